// The command catalog: one row per command the engine implements, read by the
// interpreter (dispatch), the script check (result variables, variables
// changed in place) and the build tool (parameter names). A command that is
// not built has no row; its name then runs as a marker that does nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"

namespace kyt {

class CommandContext;
using CommandHandler = void (*)(CommandContext&);

// Commands the interpreter executes itself.
enum class Builtin : uint8_t {
  none,
  if_,
  else_if,
  else_,
  end,
  comment,
  ignore,
  while_,
  wend,
  repeat,
  until,
  for_each,
  next,
  break_,
  continue_,
  label,
  goto_label,
  return_from_include,
};

// What a parameter is, as far as anyone but its handler needs to know.
enum ParameterRole : uint8_t {
  kPlain = 0,
  kResult = 1 << 0,         // names the variable that receives a result
  kOptional = 1 << 1,       // with kResult: may be left empty
  kInPlace = 1 << 2,        // names a variable the command changes; it must exist
  kTranslatable = 1 << 3,   // replaced by its translation when a language is set
  kPersistFlag = 1 << 4,    // "NAME$ZEKO$ZEKO$TRUE": the name and a persist flag
  kConditionVariable = 1 << 5,
  kConditionOperator = 1 << 6,
  kConditionValue = 1 << 7,
};
// Roles beyond the first byte.
inline constexpr uint16_t kExpression = 1 << 8;  // checked with the expression syntax check

struct ParameterSpec {
  TextView name;  // the name the script source may use for it
  uint16_t roles = kPlain;
};

struct CommandSpec {
  TextView name;
  CommandHandler handler = nullptr;
  Builtin builtin = Builtin::none;
  std::vector<ParameterSpec> parameters;

  // 1-based index of the parameter with `role`, 0 when there is none.
  size_t parameter_with(uint16_t role) const;
};

class Catalog {
 public:
  static const Catalog& instance();
  // The row for an exact (case-sensitive) name, or nullptr.
  const CommandSpec* find(TextView name) const;
  const std::vector<CommandSpec>& rows() const { return rows_; }
  void add(CommandSpec row) { rows_.push_back(std::move(row)); }

 private:
  std::vector<CommandSpec> rows_;
};

// Each command family adds its rows.
void add_flow_commands(Catalog& catalog);
void add_text_commands(Catalog& catalog);
void add_component_commands(Catalog& catalog);
void add_environment_commands(Catalog& catalog);
void add_archive_commands(Catalog& catalog);
void add_install_commands(Catalog& catalog);
void add_framework_commands(Catalog& catalog);

}  // namespace kyt
