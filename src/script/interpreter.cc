#include "script/interpreter.h"

#include "install/machine.h"

#include <tuple>

#include "base/comma_text.h"
#include "script/condition.h"

namespace kyt {

namespace {
constexpr uint64_t kPumpIntervalMs = 314;
}  // namespace

CommandContext::CommandContext(Interpreter& interpreter, size_t index) : interpreter_(interpreter), index_(index) {}

TextView CommandContext::name() const { return interpreter_.command_name(index_); }
TextView CommandContext::identifier() const { return interpreter_.command_id(index_); }

Text CommandContext::raw(size_t k) const {
  const auto& at = interpreter_.parameters_of(index_);
  return at.block ? at.block->at_or_empty(at.index + k) : Text();
}

Text CommandContext::text(size_t k) const {
  Text value = raw(k);
  Translator* translator = interpreter_.session().translator;
  const CommandSpec* row = interpreter_.row_of(index_);
  if (translator && row && k >= 1 && k <= row->parameters.size() && (row->parameters[k - 1].roles & kTranslatable))
    if (auto translated = translator->parameter(identifier(), k, value)) return *translated;
  return value;
}

Text CommandContext::expanded(size_t k) const { return interpreter_.variables().expand(text(k)); }
Text CommandContext::path(size_t k) const { return collapse_backslashes(expanded(k)); }
Text CommandContext::source() const { return Text(name()) + u" Action"; }
void CommandContext::store(TextView variable, TextView value) { variables().store_result(variable, value, source()); }
Variables& CommandContext::variables() { return interpreter_.variables(); }
Host& CommandContext::host() { return interpreter_.host(); }
Session& CommandContext::session() { return interpreter_.session(); }
const Payload& CommandContext::payload() const { return interpreter_.payload(); }

// A new cache root is tried by creating its folders (the folders made for
// the test go again; the cache itself is made when needed). One that
// cannot be made is dropped, and the default root stays.
void Interpreter::apply_override_cache(const Text& override_cache) {
  if (override_cache.empty()) {
    last_override_cache_.clear();
    define_bootstrap(variables_, payload_, options_.environment);
    return;
  }
  Machine& machine = host_.machine();
  Text folder = override_cache;
  while (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  std::vector<Text> missing = missing_folders(machine, folder);
  std::vector<Text> created;
  bool ok = !folder.empty();
  for (auto it = missing.rbegin(); ok && it != missing.rend(); ++it) {
    ok = machine.create_folder(*it) == 0;
    if (ok) created.push_back(*it);
  }
  for (auto it = created.rbegin(); it != created.rend(); ++it) machine.remove_folder(*it);
  if (!ok) {
    variables_.set_variable(u"OVERRIDECACHE", u"", u"Failed Cache Override");
    last_override_cache_.clear();
    return;
  }
  Text applied = with_backslash(folder);
  if (applied != override_cache) variables_.set_variable(u"OVERRIDECACHE", applied, u"Inject Override Command Line");
  last_override_cache_ = applied;
  define_bootstrap(variables_, payload_, options_.environment);
}

Interpreter::Interpreter(const Payload& payload, Variables& variables, Host& host, Session& session,
                         RunOptions options)
    : payload_(payload),
      variables_(variables),
      host_(host),
      session_(session),
      options_(std::move(options)),
      localization_(host.files(), session.messages) {}

Text Interpreter::window_title() const {
  return kyt::window_title(title_, no_logo_);
}

void Interpreter::set_up() {
  session_.mode64 = u"Win32";
  session_.install = InstallState{};
  session_.setup_log = options_.trace;
  session_.read_file.reset();
  counter_ = 0;
  clock_second_ = -1;
  reset_conditional_state();
  loop_kinds_.clear();
  for_each_state_.clear();
  include_stack_.clear();
  include_depth_ = 0;
  include_result_variable_ = u"0";

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
  session_.components.clear();
  session_.components.set_size_table(payload_.size_table);
  options_.environment.silent = options_.silent;
  // Progress and cancel state, added directly.
  auto& store = variables_.store();
  for (auto [name, value] : {std::pair<TextView, TextView>{u"ZEKO_thProgress", u"0"}, {u"ZEKO_thMax", u"100"},
                             {u"ZEKO_thMin", u"0"}, {u"ZEKO_thProgressText", u""}, {u"ZEKO_thFinished", u"FALSE"},
                             {u"ZEKO_thCancelled", u"FALSE"}, {u"ZEKO_IsCancelled", u"FALSE"}})
    store.define(name, value);
  Text tick = decimal(static_cast<int64_t>(host_.tick_count()));
  store.define(u"ZEKO_LastDelegateTick", tick);
  store.define(u"ZEKO_LastActiveTick", tick);
  define_pre_initialization(variables_, payload_, options_.environment);
  define_bootstrap(variables_, payload_, options_.environment);
  last_override_cache_.clear();  // a value from the command line is tried in the first cycle

  labels_.clear();
  for (size_t i = 0; i < count; ++i)
    if (payload_.command_names[i] == u"Label")
      labels_.try_emplace(to_upper(payload_.parameters.get(payload_.command_ids.at_or_empty(i), 1)), i);
  // Only one run of this build at a time when the build asks for it.
  instance_marker_.clear();
  another_instance_ = false;
  language_cancelled_ = false;
  if (payload_.build_setting(u"SINGLEINSTANCE") == u"TRUE") {
    Text marker = options_.temporary_folder + payload_.cache_folder_guid + u".kyt";
    if (host_.files().exists(marker)) {
      another_instance_ = true;
      return;
    }
    if (host_.files().write_file(marker, "")) instance_marker_ = marker;
  }
  session_.components.define(kPredefinedComponent, true, u"");

  RunEnvironment& environment = options_.environment;
  environment.silent = options_.silent;
  define_initialization(variables_, payload_, environment);

  // The language: chosen by the user, the setup's default, or the one an
  // installation remembered.
  localization_.begin_run(payload_, environment.support_folder);
  LanguageChoice choice;
  choice.maintenance = is_true(variables_.value_of(u"MAINTENANCE"));
  Text package = environment.package_path;
  if (size_t dot = package.rfind(u'.'); dot != Text::npos && dot > package.find_last_of(u"\\/") + 1)
    package.resize(dot);
  choice.patch_present = !environment.package_path.empty() && host_.files().exists(package + u".msp");
  choice.silent = options_.silent;
  Text engine_base = file_name_of(environment.engine_path);
  if (size_t dot = engine_base.rfind(u'.'); dot != Text::npos) engine_base.resize(dot);
  choice.remembered_path = variables_.value_of(u"ENGINECACHE") + engine_base + u".lan";
  if (!localization_.choose_language(variables_, host_, choice)) {
    language_cancelled_ = true;
    return;
  }

  std::vector<Text> names;
  for (const auto& [name, value] : options_.command_line_pairs) names.push_back(to_upper(name));
  variables_.set_command_line_names(names);
  variables_.set_silent(options_.silent);
  for (const auto& [name, value] : options_.command_line_pairs)
    variables_.define_variable(to_upper(name), value, kSourceCommandLine);
}

void Interpreter::refresh_from_variables() {
  if (Text log_path = variables_.value_of(u"LOGGED"); log_path != log_path_) {
    log_path_ = log_path;
    if (options_.log_path_changed) options_.log_path_changed(log_path_);
  }
  variables_.set_silent(is_true(variables_.value_of(u"SILENT")));
  bool language_active = localization_.reload(variables_, host_);
  if (!caller_translator_) session_.translator = language_active ? &localization_ : nullptr;
  title_ = variables_.value_of(u"TITLE");
  no_logo_ = equals_ignore_case(variables_.value_of(u"ZEKOLOGO"), u"TRUE");
  // A changed OVERRIDECACHE moves the engine cache: the bootstrap runs again.
  if (Text override_cache = variables_.value_of(u"OVERRIDECACHE"); override_cache != last_override_cache_)
    apply_override_cache(override_cache);
  // The engine cache follows the current ALLUSERS.
  Text cache = product_cache_folder(variables_, payload_, options_.environment,
                                    is_true(variables_.value_of(u"ALLUSERS")));
  Text engine = options_.environment.engine_path;
  variables_.define_variable(u"UNINSTALLLINK", cache + engine.substr(engine.find_last_of(u"\\/") + 1),
                             u"Bootstrap");
  variables_.define_variable(u"ENGINECACHE", cache, u"Bootstrap");
  // DATE and TIME are redefined every cycle; they are formatted again only
  // when the second has changed.
  int64_t second = host_.current_second();
  if (second != clock_second_) {
    clock_second_ = second;
    std::tie(date_, time_) = host_.date_and_time(second);
  }
  variables_.define_variable(u"DATE", date_, u"Initialization");
  variables_.define_variable(u"TIME", time_, u"Initialization");
}

// Walks forward from the counter to the End of the current block or, when
// `at_branches`, to its next Else or Else If. Nested blocks are counted;
// disabled commands count for nothing.
void Interpreter::skip_forward(bool at_branches) {
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
    } else if (at_branches && depth == 0 && name == u"Else") {
      counter_ = i + 1;
      return;
    } else if (at_branches && depth == 0 && name == u"Else If") {
      counter_ = i;
      if (open_blocks_ > 0) --open_blocks_;
      evaluate_else_if_ = true;
      return;
    }
  }
}

void Interpreter::skip_to_branch_end() {
  skip_to_branch_end_ = false;
  skip_forward(true);
}

void Interpreter::skip_to_block_end() {
  skip_to_block_end_ = false;
  skip_forward(false);
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
    default:
      return execute_loop_builtin(builtin, index);
  }
}

void Interpreter::reset_conditional_state() {
  open_blocks_ = 0;
  skip_to_branch_end_ = skip_to_block_end_ = rewound_to_end_ = evaluate_else_if_ = false;
  inside_wizard_loop_ = next_end_closes_wizard_ = false;
}

size_t Interpreter::find_partner(size_t index, bool forward, TextView target) {
  const size_t count = payload_.command_count();
  size_t i = index;
  while (true) {
    if (forward ? i + 1 >= count : i == 0)
      throw ScriptError(u"List index out of bounds (" + decimal(forward ? int64_t(count) : -1) + u")");
    i = forward ? i + 1 : i - 1;
    if (++walk_steps_ % 313 == 0) host_.process_messages();
    if (payload_.disabled(i)) continue;
    TextView name = payload_.command_names[i];
    if (name == target) return i;
    if (forward) {
      if (name == u"While") i = find_partner(i, true, u"Wend");
      else if (name == u"Repeat") i = find_partner(i, true, u"Until");
      else if (name == u"For Each") i = find_partner(i, true, u"Next");
    } else {
      if (name == u"Wend") i = find_partner(i, false, u"While");
      else if (name == u"Until") i = find_partner(i, false, u"Repeat");
      else if (name == u"Next") i = find_partner(i, false, u"For Each");
    }
  }
}

size_t Interpreter::for_each_entry(TextView variable) const {
  for (size_t i = 0; i + 2 < for_each_state_.size(); i += 3)
    if (equals_ignore_case(for_each_state_[i], variable)) return i;
  return Text::npos;
}

void Interpreter::end_for_each(const Text& variable) {
  size_t entry = for_each_entry(variable);
  if (entry != Text::npos)
    for_each_state_.erase(for_each_state_.begin() + static_cast<std::ptrdiff_t>(entry),
                          for_each_state_.begin() + static_cast<std::ptrdiff_t>(entry + 3));
  variables_.remove_when_defined(variable);
}

void Interpreter::execute_loop_builtin(Builtin builtin, size_t index) {
  CommandContext context(*this, index);
  auto pop_kind = [&] {
    if (!loop_kinds_.empty()) loop_kinds_.pop_back();
  };
  switch (builtin) {
    case Builtin::while_:
      if (evaluate_condition(context)) loop_kinds_.emplace_back(u"While");
      else counter_ = find_partner(index, true, u"Wend") + 1;
      return;
    case Builtin::wend:
      counter_ = find_partner(index, false, u"While");
      pop_kind();
      return;
    case Builtin::repeat:
      loop_kinds_.emplace_back(u"Repeat");
      return;
    case Builtin::until: {
      bool done = evaluate_condition(context);
      pop_kind();
      if (!done) counter_ = find_partner(index, false, u"Repeat");
      return;
    }
    case Builtin::for_each: {
      Text variable = to_upper(context.variable(1));
      size_t entry = for_each_entry(variable);
      if (entry == Text::npos) {
        loop_kinds_.emplace_back(u"For Each");
        entry = for_each_state_.size();
        for_each_state_.push_back(variable);
        for_each_state_.push_back(context.expanded(3));
        for_each_state_.push_back(context.expanded(2));
      }
      Text rest = for_each_state_[entry + 1];
      const Text separator = for_each_state_[entry + 2];
      Text item;
      if (!separator.empty()) {
        while (rest.starts_with(separator)) rest.erase(0, separator.size());
      }
      size_t at = separator.empty() ? Text::npos : rest.find(separator);
      if (at != Text::npos) {
        item = rest.substr(0, at);
        rest = rest.substr(at + separator.size());
      } else {
        item = rest;
        rest = separator;
      }
      for_each_state_[entry + 1] = rest;
      if (!item.empty()) {
        variables_.store_result(variable, item, u"For Each Action");
      } else {
        counter_ = find_partner(index, true, u"Next") + 1;
        pop_kind();
        end_for_each(variable);
      }
      return;
    }
    case Builtin::next:
      counter_ = find_partner(index, false, u"For Each");
      return;
    case Builtin::break_:
    case Builtin::continue_: {
      if (loop_kinds_.empty()) throw ScriptError(Text(command_name(index)) + u" not allowed outside of LOOP scope");
      Text kind = loop_kinds_.back();
      bool is_break = builtin == Builtin::break_;
      TextView target = kind == u"While"    ? (is_break ? u"Wend" : u"While")
                        : kind == u"Repeat" ? (is_break ? u"Until" : u"Repeat")
                                            : (is_break ? u"Next" : u"For Each");
      size_t partner = find_partner(index, is_break, target);
      if (is_break) {
        counter_ = partner + 1;
        if (kind == u"For Each" && for_each_state_.size() >= 3) {
          Text variable = for_each_state_[for_each_state_.size() - 3];
          end_for_each(variable);
        }
        pop_kind();
      } else {
        counter_ = partner;
        if (kind != u"For Each") pop_kind();
      }
      return;
    }
    case Builtin::label:
      return;
    case Builtin::goto_label: {
      Text name = to_upper(context.raw(1));
      auto it = labels_.find(name);
      if (it == labels_.end()) throw ScriptError(u"LABEL undefined: " + name);
      counter_ = it->second;
      reset_conditional_state();
      return;
    }
    case Builtin::return_from_include: {
      if (include_result_variable_ == u"0") return;
      Text value = context.expanded(1);
      if (!include_result_variable_.empty())
        variables_.store_result(include_result_variable_, value, context.source());
      size_t i = counter_;
      while (i < payload_.command_count() && payload_.include_entry(i).depth != include_depth_ - 1) ++i;
      counter_ = i;  // past the end when the included script closes the whole script
      return;
    }
    default:
      return;
  }
}

// The include map gives every command its include depth. Entering deeper
// saves the interpreter state once per level; coming back restores once per
// level left, so nested includes that begin or end together balance.
void Interpreter::change_include_depth() {
  if (counter_ >= payload_.command_count()) return;
  Payload::IncludeEntry entry = payload_.include_entry(counter_);
  while (include_depth_ < entry.depth) {
    include_stack_.push_back({to_comma_text(loop_kinds_), to_comma_text(for_each_state_), open_blocks_,
                              skip_to_block_end_, skip_to_branch_end_, rewound_to_end_, inside_wizard_loop_,
                              next_end_closes_wizard_});
    ++include_depth_;
  }
  while (include_depth_ > entry.depth) {
    --include_depth_;
    if (include_stack_.empty()) continue;
    SavedState saved = std::move(include_stack_.back());
    include_stack_.pop_back();
    loop_kinds_ = from_comma_text(saved.loop_kinds);
    for_each_state_ = from_comma_text(saved.for_each_state);
    open_blocks_ = saved.open_blocks;
    skip_to_block_end_ = saved.skip_to_block_end;
    skip_to_branch_end_ = saved.skip_to_branch_end;
    rewound_to_end_ = saved.rewound_to_end;
    inside_wizard_loop_ = saved.inside_wizard_loop;
    next_end_closes_wizard_ = saved.next_end_closes_wizard;
  }
  include_result_variable_ = entry.result_variable;
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
  last_error_report_ = session_.messages[Msg::runtime_error_script] + u"\r\n\r\nSource File: " + position.script +
                       u"\r\nLine Number: " + decimal(position.line) + u"\r\n\r\n" + message;
  if (!variables_.silent()) host_.show_message(window_title(), last_error_report_, MessageIcon::error);
}

void Interpreter::end_run() {
  if (options_.trace) {
    options_.trace(u"    </zeko>");
    options_.trace(u"    <ExitScript>");
  }
  if (!instance_marker_.empty()) host_.files().remove_file(instance_marker_);
  instance_marker_.clear();
  session_.read_file.reset();
  if (options_.trace) options_.trace(u"    </ExitScript>");
}

Interpreter::Outcome Interpreter::run() {
  auto trace = [this](TextView line) {
    if (options_.trace) options_.trace(line);
  };
  trace(u"    <Variables>");
  session_.mode64 = u"Win32";
  trace(u"    </Variables>");
  trace(u"    <CompileScript>");
  check_ = check_script(payload_, variables_);
  if (!check_.ok()) return Outcome::check_failed;
  trace(u"    </CompileScript>");
  trace(u"    <BootStrap>");
  caller_translator_ = session_.translator;
  log_path_ = options_.environment.log_path;
  set_up();
  if (another_instance_) return Outcome::another_instance;
  if (language_cancelled_) {
    if (!instance_marker_.empty()) host_.files().remove_file(instance_marker_);
    instance_marker_.clear();
    return Outcome::language_cancelled;
  }
  trace(u"    </BootStrap>");
  trace(u"    <zeko>");
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
      change_include_depth();
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
