// Translations of a setup: the column files in the support folder, the
// choice of the language at start, lazy reloading when LANGUAGE changes,
// the lookups for command parameters, "Localization Variable" keys and
// dialog texts, and the engine's message table.
//
// Column files (UTF-8, one entry per line, line i of each belongs together):
//   <product title>.mtx        keys: a command identifier on the line of its
//                              first parameter, a dialog control name, or
//                              "TELLURAX$" NAME "$TELLURAX"
//   translations.Map           source: the dialog definition file name
//   translations.Original      the original text
//   translations.<language>    the translated text
//   shared.translations.<language>  the engine's message table
#pragma once

#include <optional>
#include <unordered_map>
#include <vector>

#include "bootstrap/payload.h"
#include "script/host.h"
#include "script/session.h"
#include "script/variables.h"
#include "system/file_system.h"
#include "ui/messages.h"

namespace kyt {

// What the choice of the language needs to know about the run.
struct LanguageChoice {
  bool maintenance = false;
  bool patch_present = false;  // a ".msp" patch beside the package
  bool silent = false;
  Text remembered_path;        // the ".lan" file in the engine cache
};

class Localization : public Translator {
 public:
  Localization(FileSystem& files, MessageTable& messages) : files_(files), messages_(messages) {}

  // Starts a run: where the support files are and which product they belong to.
  void begin_run(const Payload& payload, Text support_folder);

  // Chooses the language and defines LANGUAGE. False when the user
  // cancelled the language dialog: the run ends.
  bool choose_language(Variables& variables, Host& host, const LanguageChoice& choice);

  // Before every command: loads the tables of a LANGUAGE that differs from
  // the loaded one. Returns whether a language is active.
  bool reload(Variables& variables, Host& host);

  // The language whose tables are loaded ("ZILCH" before the first).
  const Text& loaded_language() const { return loaded_; }

  // The translation of a dialog control's text; empty when there is none
  // or it is empty.
  std::optional<Text> dialog_text(TextView definition_file, TextView control) const;

  std::optional<Text> parameter(TextView identifier, size_t k, TextView text) override;
  std::optional<Text> key(TextView key, TextView text) override;

  // Keeps the active language for maintenance runs: the ".lan" file holds
  // it, or is deleted when no language is active.
  static void remember_language(FileSystem& files, const Text& path, TextView language);

 private:
  std::optional<Text> translate(TextView key, size_t n, TextView text) const;
  std::vector<Text> read_column(const Text& name) const;

  FileSystem& files_;
  MessageTable& messages_;
  const Payload* payload_ = nullptr;
  Text support_folder_;
  Text loaded_ = u"ZILCH";
  std::vector<Text> keys_, sources_, originals_, translations_;
  std::unordered_map<Text, size_t> first_key_;  // upper-cased key -> first line
};

}  // namespace kyt
