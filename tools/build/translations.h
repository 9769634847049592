// Translation sources (one readable file per language, docs/project-format.md)
// and the support files the build tool compiles them into.
//
//   source      := (blank | comment | entry)*
//   comment     := blanks? "#" any
//   entry       := blanks? head blanks? "=" blanks? value      (value as in scripts)
//   head        := "%language"
//                | "original"                 followed by its "translation" line
//                | "translation"
//                | "variable" blanks NAME     a Localization Variable by name
//                | "message" blanks 1..126    a line of the engine's message table
//                | "dialog" blanks FILE blanks CONTROL
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bootstrap/payload.h"
#include "build/script_source.h"
#include "ui/messages.h"

namespace kyt::build {

struct TranslationSource {
  std::string file;
  Text language;
  struct Entry {
    Text text;
    int line = 0;
  };
  std::map<Text, Entry> texts;      // original text -> translation
  std::map<Text, Entry> variables;  // upper-case variable name -> translation
  std::array<std::optional<Text>, kMessageBlockLines> messages;
  struct DialogText {
    Text definition_file, control, text;
    int line = 0;
  };
  std::vector<DialogText> dialogs;
};

// Reads one translation source; errors go to `diagnostics` (nothing is
// returned then).
std::optional<TranslationSource> parse_translation(const std::string& file, std::string_view bytes,
                                                   std::vector<Diagnostic>& diagnostics);

// The support files of the translations, by name: the four kinds of column
// files ("<title>.mtx", "translations.Map", "translations.Original",
// "translations.<language>") and "shared.translations.<language>". None
// without translations. Problems (a title that cannot name a file, texts the
// script does not contain) go to `diagnostics`.
std::vector<std::pair<Text, std::string>> localization_files(const SourceProgram& program, const Payload& payload,
                                                             const std::vector<TranslationSource>& translations,
                                                             std::vector<Diagnostic>& diagnostics,
                                                             const std::string& main_script);

// The message tables appended to kyt.lib as "lang.loc": the English block,
// then each language's name and block.
std::string message_table_file(const std::vector<TranslationSource>& translations);

}  // namespace kyt::build
