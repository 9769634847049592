#include "script/script_check.h"

#include <array>
#include <unordered_set>

#include "script/catalog.h"
#include "script/expression.h"
#include "script/predefined.h"

namespace kyt {

namespace {

constexpr TextView kPersistMarker = u"$ZEKO$ZEKO$";

enum BlockKind { kIf = 0, kWhile = 1, kRepeat = 2, kForEach = 3 };

struct KindNames {
  TextView outside_own;
  TextView outside_loops;
  TextView insufficient;
  TextView too_many;
};
constexpr std::array<KindNames, 4> kKinds = {{
    {u"IF conditional closed outside of IF conditional scope", u"IF conditional closed outside of LOOP scope",
     u"Insufficient END statements", u"Too many END statements"},
    {u"WHILE loop closed outside of WHILE loop scope",
     u"WHILE loop closed outside of CONDITIONAL or REPEAT or FOR EACH loop scope", u"Insufficient WEND statements",
     u"Too many WEND statements"},
    {u"REPEAT loop closed outside of REPEAT loop scope",
     u"REPEAT loop closed outside of CONDITIONAL or WHILE or FOR EACH loop scope", u"Insufficient UNTIL statements",
     u"Too many UNTIL statements"},
    {u"FOR EACH loop closed outside of FOR EACH loop scope",
     u"FOR EACH loop closed outside of CONDITIONAL or REPEAT or WHILE loop scope", u"Insufficient NEXT statements",
     u"Too many NEXT statements"},
}};

int opener_kind(TextView name) {
  if (name == u"If" || name == u"Wizard Loop") return kIf;
  if (name == u"While") return kWhile;
  if (name == u"Repeat") return kRepeat;
  if (name == u"For Each") return kForEach;
  return -1;
}
int closer_kind(TextView name) {
  if (name == u"End") return kIf;
  if (name == u"Wend") return kWhile;
  if (name == u"Until") return kRepeat;
  if (name == u"Next") return kForEach;
  return -1;
}
bool is_condition(TextView name) { return name == u"If" || name == u"Else If" || name == u"While" || name == u"Until"; }

class Checker {
 public:
  Checker(const Payload& payload, Variables& variables) : payload_(payload), variables_(variables) {}

  CheckResult run() {
    variables_.remove_all();
    for (TextView name : check_time_names()) variables_.define_variable(name, u"", kSourceCompilation);
    for (auto step : {&Checker::check_blocks, &Checker::check_labels, &Checker::check_variables,
                      &Checker::check_wizard_brackets}) {
      CheckResult result = (this->*step)();
      if (!result.ok()) return result;
    }
    return {};
  }

 private:
  size_t count() const { return payload_.command_count(); }
  bool enabled(size_t i) const { return !payload_.disabled(i); }
  TextView name(size_t i) const { return payload_.command_names[i]; }
  Text parameter(size_t i, size_t k) const { return payload_.parameters.get(payload_.command_ids.at_or_empty(i), k); }
  static CheckResult fail(size_t index, Text message) { return {static_cast<int64_t>(index), std::move(message)}; }

  CheckResult check_blocks() {
    struct Open {
      std::array<size_t, 4> counts;
      bool wizard;
    };
    std::array<std::vector<Open>, 4> open;
    std::array<size_t, 4> openers{}, closers{};
    std::vector<Text> for_each_variables;
    for (size_t i = 0; i < count(); ++i) {
      if (!enabled(i)) continue;
      TextView command = name(i);
      if (int kind = opener_kind(command); kind >= 0) {
        std::array<size_t, 4> counts{};
        for (int k = 0; k < 4; ++k) counts[k] = open[k].size();
        if (kind == kForEach) {
          Text variable = to_upper(variable_name(parameter(i, 1)));
          for (const auto& outer : for_each_variables)
            if (outer == variable) return fail(i, u"FOR EACH variable re-used inside nested FOR EACH loop");
          for_each_variables.push_back(variable);
        }
        open[kind].push_back({counts, command == u"Wizard Loop"});
        ++openers[kind];
      } else if (int kind = closer_kind(command); kind >= 0) {
        ++closers[kind];
        if (open[kind].empty()) return fail(i, Text(kKinds[kind].outside_own));
        Open opener = open[kind].back();
        open[kind].pop_back();
        if (kind == kForEach) for_each_variables.pop_back();
        for (int k = 0; k < 4 && !opener.wizard; ++k)
          if (k != kind && opener.counts[k] != open[k].size()) return fail(i, Text(kKinds[kind].outside_loops));
      } else if (command == u"Break" || command == u"Continue") {
        if (open[kWhile].empty() && open[kRepeat].empty() && open[kForEach].empty())
          return fail(i, Text(command) + u" not allowed outside of LOOP scope");
      }
    }
    for (int k = 0; k < 4; ++k) {
      if (openers[k] > closers[k]) return {kCountMismatchIndex, Text(kKinds[k].insufficient)};
      if (openers[k] < closers[k]) return {kCountMismatchIndex, Text(kKinds[k].too_many)};
    }
    return {};
  }

  CheckResult check_labels() {
    std::unordered_set<Text> labels;
    for (size_t i = 0; i < count(); ++i) {
      if (name(i) != u"Label") continue;
      Text label = to_upper(parameter(i, 1));
      if (!labels.insert(label).second) return fail(i, u"LABEL re-defined: " + label);
    }
    for (size_t i = 0; i < count(); ++i) {
      if (!enabled(i) || name(i) != u"GoTo Label") continue;
      Text label = to_upper(parameter(i, 1));
      if (!labels.contains(label)) return fail(i, u"LABEL undefined: " + label);
    }
    return {};
  }

  void define(TextView variable) {
    if (!variables_.is_defined(variable)) variables_.define_variable(to_upper(variable), u"", kSourceCompilation);
  }

  CheckResult check_variables() {
    const Catalog& catalog = Catalog::instance();
    // Persisted Set Variable targets exist from the start.
    for (size_t i = 0; i < count(); ++i) {
      if (!enabled(i) || name(i) != u"Set Variable") continue;
      Text target = parameter(i, 1);
      size_t marker = target.find(kPersistMarker);
      if (marker != Text::npos && target.substr(marker + kPersistMarker.size()) == u"TRUE")
        define(variable_name(target.substr(0, marker)));
    }
    std::vector<Text> for_each_variables;
    for (size_t i = 0; i < count(); ++i) {
      if (!enabled(i)) continue;
      TextView command = name(i);
      if (command == u"For Each") {
        Text variable = variable_name(parameter(i, 1));
        if (variables_.is_defined(variable))
          return fail(i, u"FOR EACH variable previously defined outside FOR EACH loop");
        define(variable);
        for_each_variables.push_back(variable);
        continue;
      }
      if (command == u"Next") {
        if (!for_each_variables.empty()) {
          variables_.remove_when_defined(for_each_variables.back());
          for_each_variables.pop_back();
        }
        continue;
      }
      if (is_condition(command)) {
        if (parameter(i, 2) == u"5") continue;
        Text left = variable_name(parameter(i, 1));
        if (!variables_.is_defined(left)) return fail(i, u"Variable not defined: " + left);
        Text right = reference_name(parameter(i, 3));
        if (!right.empty() && !variables_.is_defined(right)) return fail(i, u"Variable not defined: " + right);
        continue;
      }
      const CommandSpec* row = catalog.find(command);
      if (!row) continue;
      for (size_t k = 0; k < row->parameters.size(); ++k) {
        uint16_t roles = row->parameters[k].roles;
        Text value = parameter(i, k + 1);
        if ((roles & kExpression) && !expression_syntax_valid(value))
          return fail(i, u"Syntax error in expression. Please review the help topic \"Evaluate Expression\" for the "
                         u"correct syntax.");
        if (roles & kInPlace) {
          Text variable = variable_name(value);
          if (!variables_.is_defined(variable)) return fail(i, u"Variable not defined: " + variable);
        }
        if (roles & kResult) {
          if (roles & kPersistFlag) {
            size_t marker = value.find(kPersistMarker);
            if (marker != Text::npos) value.resize(marker);
          }
          Text variable = variable_name(value);
          if (variable.empty()) {
            if (roles & kOptional) continue;
            return fail(i, u"Variable required");
          }
          define(variable);
        }
      }
    }
    return {};
  }

  CheckResult check_wizard_brackets() {
    for (size_t i = 0; i < count(); ++i) {
      if (!enabled(i) || name(i) != u"Wizard Loop") continue;
      for (size_t j = i + 1; j < count(); ++j) {
        if (!enabled(j)) continue;
        TextView inner = name(j);
        if (inner == u"End") break;
        if (inner != u"Display Dialog" && inner != u"Comment" && inner != u"Ignore")
          return fail(j, u"Statements other than DISPLAY DIALOG not allowed inside WIZARD LOOP");
      }
    }
    return {};
  }

  const Payload& payload_;
  Variables& variables_;
};

}  // namespace

CheckResult check_script(const Payload& payload, Variables& variables) { return Checker(payload, variables).run(); }

}  // namespace kyt
