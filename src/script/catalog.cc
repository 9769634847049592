#include "script/catalog.h"

namespace kyt {

size_t CommandSpec::parameter_with(uint16_t role) const {
  for (size_t i = 0; i < parameters.size(); ++i)
    if (parameters[i].roles & role) return i + 1;
  return 0;
}

const Catalog& Catalog::instance() {
  static const Catalog catalog = [] {
    Catalog c;
    add_flow_commands(c);
    add_text_commands(c);
    add_component_commands(c);
    add_environment_commands(c);
    add_archive_commands(c);
    add_install_commands(c);
    add_framework_commands(c);
    return c;
  }();
  return catalog;
}

const CommandSpec* Catalog::find(TextView name) const {
  for (const auto& row : rows_)
    if (row.name == name) return &row;
  return nullptr;
}

void add_flow_commands(Catalog& catalog) {
  const std::vector<ParameterSpec> condition = {
      {u"variable", kConditionVariable | kTranslatable},
      {u"operator", kConditionOperator},
      {u"value", kConditionValue | kTranslatable},
      {u"negate", kPlain},
  };
  catalog.add({u"If", nullptr, Builtin::if_, condition});
  catalog.add({u"Else If", nullptr, Builtin::else_if, condition});
  catalog.add({u"Else", nullptr, Builtin::else_, {}});
  catalog.add({u"End", nullptr, Builtin::end, {}});
  catalog.add({u"Comment", nullptr, Builtin::comment, {{u"text", kPlain}}});
  catalog.add({u"Ignore", nullptr, Builtin::ignore, {}});
  catalog.add({u"While", nullptr, Builtin::while_, condition});
  catalog.add({u"Wend", nullptr, Builtin::wend, {}});
  catalog.add({u"Repeat", nullptr, Builtin::repeat, {}});
  catalog.add({u"Until", nullptr, Builtin::until, condition});
  catalog.add({u"For Each", nullptr, Builtin::for_each, {{u"variable"}, {u"separator"}, {u"list"}}});
  catalog.add({u"Next", nullptr, Builtin::next, {}});
  catalog.add({u"Break", nullptr, Builtin::break_, {}});
  catalog.add({u"Continue", nullptr, Builtin::continue_, {}});
  catalog.add({u"Label", nullptr, Builtin::label, {{u"name"}}});
  catalog.add({u"GoTo Label", nullptr, Builtin::goto_label, {{u"name"}}});
  catalog.add({u"Return from Include Script", nullptr, Builtin::return_from_include, {{u"value"}}});
}

}  // namespace kyt
