// Commands that define components and change or query their selection.
#include "install/component_file.h"
#include "script/catalog.h"
#include "script/interpreter.h"

namespace kyt {

namespace {

ComponentModel& model(CommandContext& command) { return command.session().components; }

void define_component(CommandContext& command) {
  Text path = command.expanded(1);
  Text untranslated = command.variables().expand(command.raw(1));
  model(command).define(path, is_true(command.expanded(2)), command.expanded(3), untranslated);
}

void set_component_state(CommandContext& command) {
  int64_t index = model(command).index_of(command.expanded(1));
  if (index >= 0) model(command).set_state(static_cast<size_t>(index), is_true(command.expanded(2)));
}

void get_component_state(CommandContext& command) {
  command.store(command.variable(2), bool_text(model(command).selected(command.expanded(1))));
}

void set_component_space(CommandContext& command) {
  Text path = command.expanded(1);
  auto size = parse_int64(command.expanded(2));
  if (size && model(command).exists(path)) model(command).set_size(path, *size);
}

void get_component_space(CommandContext& command) {
  Text path = command.expanded(1);
  int64_t size = path.empty() ? model(command).additional_space() : model(command).size_of(path);
  command.store(command.variable(2), decimal(size));
}

void set_component_choice(CommandContext& command) {
  model(command).set_choice(command.expanded(1), is_true(command.expanded(2)));
}

void set_component_visibility(CommandContext& command) {
  model(command).set_visible(command.expanded(1), is_true(command.expanded(2)));
}

void delete_component(CommandContext& command) { model(command).delete_component(command.expanded(1)); }

void save_feature_selections(CommandContext& command) {
  Text path = command.path(1);
  std::string bytes = write_component_file(command.session(), command.variables(), u"");
  if (!command.host().files().write_file(path, bytes))
    throw ScriptError(u"Cannot create file \"" + path + u"\"");
}

void load_feature_selections(CommandContext& command) {
  load_component_file(command.host().files(), command.path(1), command.session(), command.variables(),
                      {.merge = true, .ignore_sizes = true});
}

}  // namespace

void add_component_commands(Catalog& catalog) {
  constexpr uint8_t name = kTranslatable;
  catalog.add({u"Define Component", define_component, Builtin::none,
               {{u"component", name}, {u"state"}, {u"description", kTranslatable}}});
  catalog.add({u"Set Component State", set_component_state, Builtin::none, {{u"component", name}, {u"state"}}});
  catalog.add({u"Get Component State", get_component_state, Builtin::none,
               {{u"component", name}, {u"variable", kResult}}});
  catalog.add({u"Set Component Space", set_component_space, Builtin::none, {{u"component", name}, {u"size"}}});
  catalog.add({u"Get Component Space", get_component_space, Builtin::none,
               {{u"component", name}, {u"variable", kResult}}});
  catalog.add({u"Set Component Choice", set_component_choice, Builtin::none, {{u"component", name}, {u"allowed"}}});
  catalog.add({u"Set Component Visibility", set_component_visibility, Builtin::none,
               {{u"component", name}, {u"visible"}}});
  catalog.add({u"Delete Component", delete_component, Builtin::none, {{u"component", name}}});
  catalog.add({u"Save Feature Selections", save_feature_selections, Builtin::none, {{u"file"}}});
  catalog.add({u"Load Feature Selections", load_feature_selections, Builtin::none, {{u"file"}}});
}

}  // namespace kyt
