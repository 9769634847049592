// The script interpreter: checks the script, then runs it command by command
// with a program counter, keeping the state of conditional blocks and
// dispatching every other command to its handler through the catalog.
#pragma once

#include <functional>
#include <unordered_map>
#include <stdexcept>
#include <vector>

#include "bootstrap/payload.h"
#include "bootstrap/run_environment.h"
#include "script/catalog.h"
#include "script/host.h"
#include "script/script_check.h"
#include "script/session.h"
#include "script/variables.h"
#include "ui/localization.h"

namespace kyt {

// An error that ends the run with the runtime error report.
class ScriptError : public std::runtime_error {
 public:
  explicit ScriptError(Text message) : std::runtime_error(to_utf8(message)), message_(std::move(message)) {}
  const Text& message() const { return message_; }

 private:
  Text message_;
};

class Interpreter;

// What a handler sees of the command it runs.
class CommandContext {
 public:
  CommandContext(Interpreter& interpreter, size_t index);

  size_t index() const { return index_; }
  TextView name() const;
  TextView identifier() const;
  // Parameter k as stored (k = 0 is the identifier); empty when absent.
  Text raw(size_t k) const;
  // Parameter k, translated when the catalog marks it translatable and a
  // language is active.
  Text text(size_t k) const;
  // Parameter k (translated as above) with variables expanded.
  Text expanded(size_t k) const;
  // Expanded, then doubled backslashes collapsed.
  Text path(size_t k) const;
  // The variable parameter k names (NAME or $NAME$).
  Text variable(size_t k) const { return kyt::variable_name(raw(k)); }
  // Defines the upper-cased result variable when missing and sets it, with
  // the command's own name as the source.
  void store(TextView variable, TextView value);
  Text source() const;

  Variables& variables();
  Host& host();
  Session& session();
  const Payload& payload() const;
  Interpreter& interpreter() { return interpreter_; }

 private:
  Interpreter& interpreter_;
  size_t index_;
};

// What the start-up hands to a run.
struct RunOptions {
  bool silent = false;
  // NAME=VALUE pairs of the command line, names upper-cased.
  std::vector<std::pair<Text, Text>> command_line_pairs;
  // Folders, switches and machine facts for the predefined variables.
  RunEnvironment environment;
  // Receives the run's phase lines for the start-up trace log.
  std::function<void(TextView)> trace;
  // Told when the script changes LOGGED: the trace goes there from then on.
  std::function<void(const Text&)> log_path_changed;
  // Where the single-instance marker lives (with a trailing backslash).
  Text temporary_folder;
};

class Interpreter {
 public:
  // another_instance: the single-instance marker of another run was found.
  // language_cancelled: the user cancelled the language dialog.
  enum class Outcome { finished, check_failed, runtime_error, another_instance, language_cancelled };

  Interpreter(const Payload& payload, Variables& variables, Host& host, Session& session, RunOptions options = {});

  // Set-up, the command cycle and the end of the run.
  Outcome run();
  // The check result of the last run.
  const CheckResult& check_result() const { return check_; }
  // The text of the last runtime error report.
  const Text& last_error_report() const { return last_error_report_; }

  const Payload& payload() const { return payload_; }
  Variables& variables() { return variables_; }
  Host& host() { return host_; }
  Session& session() { return session_; }
  TextView command_name(size_t index) const { return payload_.command_names[index]; }
  TextView command_id(size_t index) const { return payload_.command_ids[index]; }
  const ParameterStore::Position& parameters_of(size_t index) const { return parameter_positions_[index]; }
  const CommandSpec* row_of(size_t index) const { return rows_[index]; }
  size_t program_counter() const { return counter_; }
  const std::vector<Text>& loop_kinds() const { return loop_kinds_; }

  // Ends the script after the current command (a cancelled run).
  void end_script() { counter_ = payload_.command_count(); skip_to_branch_end_ = skip_to_block_end_ = false; }

  // The window title: TITLE with the product suffix unless ZEKOLOGO is set.
  Text window_title() const;
  Localization& localization() { return localization_; }

 private:
  void set_up();
  void refresh_from_variables();
  // Fetches the next enabled command; false when the script has ended.
  bool fetch(size_t& index);
  void execute(size_t index);
  void execute_builtin(Builtin builtin, size_t index);
  void skip_forward(bool at_branches);
  void skip_to_branch_end();
  void skip_to_block_end();
  // Loops, labels and included scripts.
  void execute_loop_builtin(Builtin builtin, size_t index);
  // Index of the partner of the loop command at `index`: walks in the given
  // direction to `target`, passing over nested loops whole.
  size_t find_partner(size_t index, bool forward, TextView target);
  void end_for_each(const Text& variable);
  void change_include_depth();
  void reset_conditional_state();
  size_t for_each_entry(TextView variable) const;  // index of the triple, or npos
  void report_runtime_error(size_t index, const Text& message);
  void end_run();

  const Payload& payload_;
  Variables& variables_;
  Host& host_;
  Session& session_;
  RunOptions options_;
  CheckResult check_;
  Text last_error_report_;

  // Resolved once per run: each command's catalog row and parameter position.
  std::vector<const CommandSpec*> rows_;
  std::vector<ParameterStore::Position> parameter_positions_;

  size_t counter_ = 0;
  size_t open_blocks_ = 0;
  bool skip_to_branch_end_ = false;
  bool skip_to_block_end_ = false;
  bool rewound_to_end_ = false;
  bool evaluate_else_if_ = false;  // a skip stopped on an Else If: evaluate it
  bool inside_wizard_loop_ = false;
  bool next_end_closes_wizard_ = false;

  std::vector<Text> loop_kinds_;       // "While", "Repeat", "For Each"; innermost last
  std::vector<Text> for_each_state_;   // variable, remaining list text, separator; innermost last
  struct SavedState {
    Text loop_kinds;      // comma-text
    Text for_each_state;  // comma-text
    size_t open_blocks;
    bool skip_to_block_end, skip_to_branch_end, rewound_to_end, inside_wizard_loop, next_end_closes_wizard;
  };
  std::vector<SavedState> include_stack_;
  int64_t include_depth_ = 0;
  Text include_result_variable_ = u"0";
  std::unordered_map<Text, size_t> labels_;
  size_t walk_steps_ = 0;
  uint64_t last_pump_ = 0;
  Text title_;
  Text log_path_;
  bool no_logo_ = false;
  int64_t clock_second_ = -1;
  Text last_override_cache_;
  void apply_override_cache(const Text& override_cache);
  Text instance_marker_;  // created by this run, deleted at its end
  bool another_instance_ = false;
  Text date_, time_;
  Localization localization_;
  bool language_cancelled_ = false;
  // A translator set by the caller stays; otherwise the run's own
  // localization is active while LANGUAGE is not empty.
  Translator* caller_translator_ = nullptr;
};

}  // namespace kyt
