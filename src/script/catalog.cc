#include "script/catalog.h"

namespace kyt {

size_t CommandSpec::parameter_with(uint8_t role) const {
  for (size_t i = 0; i < parameters.size(); ++i)
    if (parameters[i].roles & role) return i + 1;
  return 0;
}

const Catalog& Catalog::instance() {
  static const Catalog catalog = [] {
    Catalog c;
    add_flow_commands(c);
    add_text_commands(c);
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
}

}  // namespace kyt
