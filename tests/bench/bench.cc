// Interpreter benchmarks: command throughput, expansion, payload loading and
// checking. Prints commands per second and nanoseconds per command.
#include <chrono>
#include <cstdio>
#include <string>

#include "bootstrap/payload.h"
#include "script/interpreter.h"

using namespace kyt;

namespace {

class QuietHost : public Host {
 public:
  void show_message(TextView, TextView, MessageIcon) override {}
  uint64_t tick_count() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  FileSystem& files() override { return files_; }

 private:
  MemoryFileSystem files_;
};

struct ScriptBuilder {
  Payload payload;
  StringList block;
  void add(TextView name, std::initializer_list<TextView> parameters) {
    Text id = u"{B" + decimal(static_cast<int64_t>(payload.command_count())) + u"}";
    payload.command_names.add(Text(name));
    payload.command_ids.add(id);
    payload.command_flags.add(u"");
    payload.source_map.add(u"bench.kys*" + decimal(static_cast<int64_t>(payload.command_count())));
    payload.include_map.add(u"0*0");
    if (parameters.size()) {
      block.add(id);
      for (TextView p : parameters) block.add(Text(p));
    }
  }
  Payload finish() {
    payload.parameters.append(block);
    return std::move(payload);
  }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, double seconds, double operations, const char* unit) {
  std::printf("%-58s %10.0f %s/s %10.1f ns/%s\n", what, operations / seconds, unit, seconds * 1e9 / operations, unit);
}

// Runs a payload and reports the commands it executed per second.
void run_script(const char* what, Payload payload, double commands) {
  QuietHost host;
  Variables variables;
  Session session;
  Interpreter interpreter(payload, variables, host, session);
  auto start = std::chrono::steady_clock::now();
  auto outcome = interpreter.run();
  double seconds = seconds_since(start);
  if (outcome != Interpreter::Outcome::finished) {
    std::printf("%s: the script did not finish: %s\n", what, to_utf8(interpreter.last_error_report()).c_str());
    return;
  }
  report(what, seconds, commands, "cmd");
}

}  // namespace

int main() {
  constexpr int kIterations = 1000000;
  {
    // While I < N: Mathematics, Set Variable, If/End: six commands a pass.
    ScriptBuilder s;
    s.add(u"Set Variable", {u"I", u"0"});
    s.add(u"Set Variable", {u"N", decimal(kIterations)});
    s.add(u"While", {u"N", u"2", u"$I$", u""});
    s.add(u"Mathematics", {u"$I$", u"1", u"0", u"I"});
    s.add(u"Set Variable", {u"X", u"$I$"});
    s.add(u"If", {u"I", u"0", u"5", u""});
    s.add(u"End", {});
    s.add(u"Wend", {});
    run_script("loop of Set Variable / Mathematics / If (1,000,000 passes)", s.finish(), 6.0 * kIterations + 3);
  }
  {
    // The bare cycle: refresh, fetch and dispatch of commands that do nothing.
    constexpr int kComments = 100, kPasses = 20000;
    ScriptBuilder s;
    s.add(u"Set Variable", {u"I", u"0"});
    s.add(u"While", {u"I", u"2", u"-1", u""});
    for (int i = 0; i < kComments; ++i) s.add(u"Comment", {u"nothing"});
    s.add(u"Mathematics", {u"$I$", u"1", u"0", u"I"});
    s.add(u"If", {u"I", u"0", decimal(kPasses), u""});
    s.add(u"Break", {});
    s.add(u"End", {});
    s.add(u"Wend", {});
    run_script("command cycle overhead (Comment, 2,000,000 commands)", s.finish(), double(kComments + 6) * kPasses);
  }
  {
    Variables variables;
    for (int i = 0; i < 10; ++i) variables.define_variable(u"NAME" + decimal(i), u"value number " + decimal(i), u"Bench");
    Text text;
    for (int i = 0; i < 10; ++i) text += u"text $NAME" + decimal(i) + u"$ ";
    constexpr int kExpansions = 200000;
    size_t total = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kExpansions; ++i) total += variables.expand(text).size();
    report("expansion of a text with 10 references", seconds_since(start), kExpansions, "exp");
    if (total == 0) std::printf("unexpected empty expansion\n");
  }
  {
    constexpr int kCommands = 20000;
    ScriptBuilder s;
    s.add(u"Set Variable", {u"A", u"0"});
    for (int i = 0; i < kCommands / 4; ++i) {
      s.add(u"If", {u"A", u"0", u"1", u""});
      s.add(u"Set Variable", {u"A", decimal(i)});
      s.add(u"Write to Text File", {u"$TEMPDIR$x.txt", u"$A$", u""});
      s.add(u"End", {});
    }
    Payload built = s.finish();
    built.project_guid = u"{00000000-0000-0000-0000-000000000000}";
    built.size_table.add(u"ZEKO-PREDEF-COMPONENT");
    built.size_table.add(u"0");
    std::string text, error;
    write_payload(built, text, error);
    constexpr int kRounds = 10;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
      Payload payload;
      if (parse_payload(text, payload) != PayloadStatus::ok) std::printf("payload did not load\n");
      Variables variables;
      CheckResult check = check_script(payload, variables);
      if (!check.ok()) std::printf("check failed: %s\n", to_utf8(check.message).c_str());
    }
    report("load and check a payload of 20,000 commands", seconds_since(start), double(kRounds) * kCommands, "cmd");
    std::printf("%-58s %10.1f ms\n", "  one load and check", seconds_since(start) * 1000 / kRounds);
  }
  return 0;
}
