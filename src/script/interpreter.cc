#include "script/interpreter.h"

#include "script/condition.h"

namespace kyt {

namespace {
constexpr uint64_t kPumpIntervalMs = 314;
constexpr TextView kTitleSuffix = u" - Quorvane Wizard";
constexpr TextView kProductWizard = u"Quorvane Wizard";
}  // namespace

CommandContext::CommandContext(Interpreter& interpreter, size_t index) : interpreter_(interpreter), index_(index) {}

TextView CommandContext::name() const { return interpreter_.command_name(index_); }
TextView CommandContext::identifier() const { return interpreter_.command_id(index_); }

Text CommandContext::raw(size_t k) const {
  const auto& at = interpreter_.parameters_of(index_);
  return at.block ? at.block->at_or_empty(at.index + k) : Text();
}

Text CommandContext::expanded(size_t k) const { return interpreter_.variables().expand(raw(k)); }
Text CommandContext::path(size_t k) const { return collapse_backslashes(expanded(k)); }
Text CommandContext::source() const { return Text(name()) + u" Action"; }
void CommandContext::store(TextView variable, TextView value) { variables().store_result(variable, value, source()); }
Variables& CommandContext::variables() { return interpreter_.variables(); }
Host& CommandContext::host() { return interpreter_.host(); }
Session& CommandContext::session() { return interpreter_.session(); }
const Payload& CommandContext::payload() const { return interpreter_.payload(); }

Interpreter::Interpreter(const Payload& payload, Variables& variables, Host& host, Session& session,
                         RunOptions options)
    : payload_(payload), variables_(variables), host_(host), session_(session), options_(std::move(options)) {}

Text Interpreter::window_title() const {
  if (no_logo_) return title_;
  return title_.empty() ? Text(kProductWizard) : title_ + Text(kTitleSuffix);
}

void Interpreter::set_up() {
  session_.mode64 = u"Win32";
  session_.read_file.reset();
  counter_ = 0;
  open_blocks_ = 0;
  skip_to_branch_end_ = skip_to_block_end_ = rewound_to_end_ = evaluate_else_if_ = false;

  // Each command's row and parameter position are looked up once, so that
  // the cycle does no name or identifier search.
  const size_t count = payload_.command_count();
  rows_.assign(count, nullptr);
  parameter_positions_.assign(count, {});
  const Catalog& catalog = Catalog::instance();
  for (size_t i = 0; i < count; ++i) {
    rows_[i] = catalog.find(payload_.command_names[i]);
    parameter_positions_[i] = payload_.parameters.find(payload_.command_ids.at_or_empty(i));
  }

  variables_.remove_all();
  // Progress and cancel state, added directly.
  auto& store = variables_.store();
  for (auto [name, value] : {std::pair<TextView, TextView>{u"ZEKO_thProgress", u"0"}, {u"ZEKO_thMax", u"100"},
                             {u"ZEKO_thMin", u"0"}, {u"ZEKO_thProgressText", u""}, {u"ZEKO_thFinished", u"FALSE"},
                             {u"ZEKO_thCancelled", u"FALSE"}, {u"ZEKO_IsCancelled", u"FALSE"}})
    store.define(name, value);
  Text tick = decimal(static_cast<int64_t>(host_.tick_count()));
  store.define(u"ZEKO_LastDelegateTick", tick);
  store.define(u"ZEKO_LastActiveTick", tick);

  constexpr TextView init = u"Initialization";
  for (auto [name, value] : {std::pair<TextView, TextView>{u"ABORT", u"FALSE"}, {u"ABORTONERROR", u"TRUE"},
                             {u"ABORTEDONERROR", u"FALSE"}, {u"NEWLINE", u"\r\n"}, {u"ZEKOLOGO", u""}})
    variables_.define_variable(name, value, init);
  variables_.define_variable(u"SILENT", bool_text(options_.silent), init);
  variables_.define_variable(u"TITLE", payload_.product_title, init);
  variables_.define_variable(u"VERSION", payload_.product_version, init);
  variables_.define_variable(u"COMPANY", payload_.publisher, init);
  if (options_.define_initialization_variables) options_.define_initialization_variables(variables_);

  std::vector<Text> names;
  for (const auto& [name, value] : options_.command_line_pairs) names.push_back(to_upper(name));
  variables_.set_command_line_names(names);
  variables_.set_silent(options_.silent);
  for (const auto& [name, value] : options_.command_line_pairs)
    variables_.define_variable(to_upper(name), value, kSourceCommandLine);
}

void Interpreter::refresh_from_variables() {
  variables_.set_silent(is_true(variables_.value_of(u"SILENT")));
  title_ = variables_.value_of(u"TITLE");
  no_logo_ = equals_ignore_case(variables_.value_of(u"ZEKOLOGO"), u"TRUE");
}

bool Interpreter::enabled_is(size_t index, Builtin builtin) const {
  return !payload_.disabled(index) && rows_[index] && rows_[index]->builtin == builtin;
}

// Walks forward from the counter to the Else, Else If or End of the current
// block. Nested blocks are counted; disabled commands count for nothing.
void Interpreter::skip_to_branch_end() {
  skip_to_branch_end_ = false;
  int depth = 0;
  for (size_t i = counter_;; ++i) {
    if (i >= payload_.command_count()) throw ScriptError(u"List index out of bounds (" + decimal(int64_t(i)) + u")");
    if (payload_.disabled(i)) continue;
    TextView name = payload_.command_names[i];
    if (name == u"If" || name == u"Wizard Loop") {
      ++depth;
    } else if (name == u"End") {
      if (depth == 0) {
        counter_ = i;
        rewound_to_end_ = true;
        return;
      }
      --depth;
    } else if (depth == 0 && name == u"Else") {
      counter_ = i + 1;
      return;
    } else if (depth == 0 && name == u"Else If") {
      counter_ = i;
      if (open_blocks_ > 0) --open_blocks_;
      evaluate_else_if_ = true;
      return;
    }
  }
}

void Interpreter::skip_to_block_end() {
  skip_to_block_end_ = false;
  int depth = 0;
  for (size_t i = counter_;; ++i) {
    if (i >= payload_.command_count()) throw ScriptError(u"List index out of bounds (" + decimal(int64_t(i)) + u")");
    if (payload_.disabled(i)) continue;
    TextView name = payload_.command_names[i];
    if (name == u"If" || name == u"Wizard Loop") {
      ++depth;
    } else if (name == u"End") {
      if (depth == 0) {
        counter_ = i;
        rewound_to_end_ = true;
        return;
      }
      --depth;
    }
  }
}

bool Interpreter::fetch(size_t& index) {
  const size_t count = payload_.command_count();
  while (counter_ < count) {
    index = counter_++;
    if (payload_.disabled(index)) continue;
    if (rows_[index] && rows_[index]->builtin == Builtin::ignore) continue;
    return true;
  }
  return false;
}

void Interpreter::execute_builtin(Builtin builtin, size_t index) {
  switch (builtin) {
    case Builtin::else_if:
      if (!evaluate_else_if_) {
        // Reached at the end of an executing branch: the block is done.
        if (open_blocks_ >= 1) skip_to_block_end_ = true;
        return;
      }
      [[fallthrough]];
    case Builtin::if_: {
      evaluate_else_if_ = false;
      ++open_blocks_;
      CommandContext context(*this, index);
      if (!evaluate_condition(context)) skip_to_branch_end_ = true;
      return;
    }
    case Builtin::else_:
      skip_to_block_end_ = true;
      return;
    case Builtin::end:
      if (rewound_to_end_) {
        rewound_to_end_ = false;
        if (open_blocks_ > 0) --open_blocks_;
      } else if (open_blocks_ >= 1) {
        --open_blocks_;
      }
      return;
    case Builtin::comment:
    case Builtin::ignore:
    case Builtin::none:
      return;
  }
}

void Interpreter::execute(size_t index) {
  const CommandSpec* row = rows_[index];
  if (!row) return;  // a marker or a command without handler does nothing
  if (row->builtin != Builtin::none) return execute_builtin(row->builtin, index);
  CommandContext context(*this, index);
  row->handler(context);
}

void Interpreter::report_runtime_error(size_t index, const Text& message) {
  auto position = payload_.source_position(index);
  last_error_report_ = u"Runtime error in setup script:\r\n\r\nSource File: " + position.script +
                       u"\r\nLine Number: " + decimal(position.line) + u"\r\n\r\n" + message;
  if (!variables_.silent()) host_.show_message(window_title(), last_error_report_, MessageIcon::error);
}

void Interpreter::end_run() {
  session_.read_file.reset();
}

Interpreter::Outcome Interpreter::run() {
  check_ = check_script(payload_, variables_);
  if (!check_.ok()) return Outcome::check_failed;
  set_up();
  last_pump_ = host_.tick_count();
  size_t index = 0;
  try {
    while (counter_ < payload_.command_count()) {
      uint64_t now = host_.tick_count();
      if (now - last_pump_ > kPumpIntervalMs) {
        host_.process_messages();
        last_pump_ = now;
      }
      refresh_from_variables();
      if (skip_to_branch_end_) skip_to_branch_end();
      if (skip_to_block_end_) skip_to_block_end();
      if (!fetch(index)) break;
      variables_.set_variable(u"ABORT", bool_text(is_true(variables_.value_of(u"ZEKO_IsCancelled"))), u"Cancel State");
      execute(index);
    }
  } catch (const ScriptError& error) {
    report_runtime_error(index, error.message());
    end_run();
    return Outcome::runtime_error;
  } catch (const std::exception& error) {
    report_runtime_error(index, from_utf8(error.what()));
    end_run();
    return Outcome::runtime_error;
  }
  end_run();
  return Outcome::finished;
}

}  // namespace kyt
