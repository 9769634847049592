#include "ui/localization.h"

#include "base/text_file.h"

namespace kyt {

namespace {
constexpr TextView kTranslationsPrefix = u"translations.";
constexpr TextView kVariableKeyOpen = u"TELLURAX$";
constexpr TextView kVariableKeyClose = u"$TELLURAX";

bool contains_ignore_case(TextView text, TextView part) { return to_upper(text).find(to_upper(part)) != Text::npos; }
}  // namespace

void Localization::begin_run(const Payload& payload, Text support_folder) {
  payload_ = &payload;
  support_folder_ = std::move(support_folder);
  loaded_ = u"ZILCH";
  keys_.clear();
  sources_.clear();
  originals_.clear();
  translations_.clear();
  first_key_.clear();
}

std::vector<Text> Localization::read_column(const Text& name) const {
  auto bytes = files_.read_file(support_folder_ + name);
  return bytes ? read_utf8_lines(*bytes) : std::vector<Text>{};
}

bool Localization::choose_language(Variables& variables, Host& host, const LanguageChoice& choice) {
  loaded_ = u"ZILCH";
  variables.define_variable(u"LANGUAGE", u"", u"Initialization");
  if (!payload_ || !files_.exists(support_folder_ + payload_->product_title + u".mtx")) return true;

  // The languages: every "translations.<name>" except the shared message
  // tables and the two other columns.
  std::vector<Text> names;
  Text chosen;
  for (const Text& file : files_.list_files(support_folder_, u"")) {
    if (!starts_with_ignore_case(file, kTranslationsPrefix)) continue;
    if (contains_ignore_case(file, u"shared")) continue;
    Text name = file.substr(kTranslationsPrefix.size());
    if (equals_ignore_case(name, u"Map") || equals_ignore_case(name, u"Original") || name.empty()) continue;
    if (equals_ignore_case(name, payload_->default_language)) chosen = payload_->default_language;
    names.push_back(std::move(name));
  }
  if (!names.empty()) {
    if (payload_->language_dialog && !choice.maintenance && !choice.patch_present) {
      // Preselected: the user's default language, else the default of the
      // setup, else the first.
      Text user = language_of_locale(host.user_locale(true));
      size_t preselected = names.size();
      for (size_t i = 0; i < names.size() && preselected == names.size(); ++i)
        if (!user.empty() && equals_ignore_case(names[i], user)) preselected = i;
      for (size_t i = 0; i < names.size() && preselected == names.size(); ++i)
        if (equals_ignore_case(names[i], payload_->default_language)) preselected = i;
      if (preselected == names.size()) preselected = 0;
      std::optional<size_t> picked = preselected;
      if (!choice.silent) {
        picked = host.choose_language(names, preselected,
                                      {messages_[Msg::select_language], messages_[Msg::select_language_prompt],
                                       messages_[Msg::ok], messages_[Msg::cancel]});
        if (!picked) return false;
      }
      if (*picked < names.size()) chosen = names[*picked];
    } else if (choice.maintenance || choice.patch_present) {
      if (auto bytes = files_.read_file(choice.remembered_path)) {
        auto lines = read_utf8_lines(*bytes);
        if (!lines.empty()) chosen = lines.front();
      }
    }
  }
  variables.define_variable(u"LANGUAGE", chosen, u"Initialization");
  return true;
}

bool Localization::reload(Variables& variables, Host& host) {
  Text language = variables.value_of(u"LANGUAGE");
  if (language.empty()) return false;
  if (language == loaded_) return true;
  loaded_ = language;
  sources_ = read_column(u"translations.Map");
  translations_ = read_column(Text(kTranslationsPrefix) + language);
  originals_ = read_column(u"translations.Original");
  keys_ = payload_ ? read_column(payload_->product_title + u".mtx") : std::vector<Text>{};
  first_key_.clear();
  for (size_t i = 0; i < keys_.size(); ++i) first_key_.try_emplace(to_upper(keys_[i]), i);
  // The engine's own messages follow when the language carries them.
  if (auto shared = files_.read_file(support_folder_ + u"shared.translations." + language))
    messages_.apply(read_utf8_lines(*shared), language_of_locale(host.user_locale(false)));
  return true;
}

std::optional<Text> Localization::translate(TextView key, size_t n, TextView text) const {
  if (n == 0) return std::nullopt;
  Text mode = u"NEWONLY";
  if (payload_) {
    Text setting = payload_->build_setting(u"LOCMODE");
    if (setting != u"#LOCMODE#") mode = setting;
  }
  if (mode == u"VARSONLY" && !(key.find(kVariableKeyOpen) != TextView::npos &&
                               key.find(kVariableKeyClose) != TextView::npos))
    return std::nullopt;
  auto found = first_key_.find(to_upper(key));
  if (found == first_key_.end()) return std::nullopt;
  size_t line = found->second + n - 1;
  if (mode == u"NEWONLY" && (line >= originals_.size() || originals_[line] != text)) return std::nullopt;
  if (line >= translations_.size()) return std::nullopt;
  return payload_ ? payload_->expand_build_settings(translations_[line]) : translations_[line];
}

std::optional<Text> Localization::parameter(TextView identifier, size_t k, TextView text) {
  return translate(identifier, k, text);
}

std::optional<Text> Localization::key(TextView key, TextView text) { return translate(key, 1, text); }

std::optional<Text> Localization::dialog_text(TextView definition_file, TextView control) const {
  for (size_t i = 0; i < keys_.size() && i < sources_.size(); ++i)
    if (equals_ignore_case(sources_[i], definition_file) && equals_ignore_case(keys_[i], control))
      // An empty translation would blank the control: the original stays.
      return i < translations_.size() && !translations_[i].empty() ? std::optional<Text>(translations_[i])
                                                                    : std::nullopt;
  return std::nullopt;
}

void Localization::remember_language(FileSystem& files, const Text& path, TextView language) {
  if (language.empty()) {
    files.remove_file(path);
    return;
  }
  files.write_file(path, write_utf8_lines({Text(language)}, false));
}

}  // namespace kyt
