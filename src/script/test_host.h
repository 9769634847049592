// A host for script tests: records message boxes and pumps, keeps files in
// memory and answers system questions from fixed tables.
#pragma once

#include <atomic>
#include <map>
#include <vector>

#include "script/host.h"

namespace kyt::testing_support {

class FakeSystemQueries : public SystemQueries {
 public:
  Text expand_environment(TextView text) override {
    Text out(text);
    for (const auto& [name, value] : environment) out = replace_all_ignore_case(out, u"%" + name + u"%", value);
    return out;
  }
  std::vector<Text> environment_block() override {
    std::vector<Text> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + u"=" + value);
    return entries;
  }
  std::optional<std::array<uint16_t, 4>> file_version(const Text& path) override {
    auto it = versions.find(to_lower(path));
    if (it == versions.end()) return std::nullopt;
    return it->second;
  }
  std::optional<Text> create_temporary_file(const Text& folder, TextView prefix) override {
    return folder + Text(prefix) + decimal(++temporary_files) + u".tmp";
  }
  Text full_path(const Text& path) override { return path; }
  bool path_exists(const Text& path) override { return existing.contains(to_lower(path)); }
  Text short_path(const Text& path) override { return u"SHORT:" + path; }
  Text long_path(const Text& path) override { return u"LONG:" + path; }
  Text folder_location(int code, bool all_users, TextView mode64) override {
    return u"F" + decimal(code) + (all_users ? u"A" : u"U") + Text(mode64) + u"\\";
  }

  std::map<Text, Text> environment;
  std::map<Text, std::array<uint16_t, 4>> versions;  // lower-case paths
  std::map<Text, bool> existing;                     // lower-case paths
  int temporary_files = 0;
};

class RecordingHost : public Host {
 public:
  struct Message {
    Text title;
    Text text;
    MessageIcon icon;
  };
  void show_message(TextView title, TextView text, MessageIcon icon) override {
    messages.push_back({Text(title), Text(text), icon});
  }
  void process_messages() override { ++pumps; }
  uint64_t tick_count() override { return now += tick_step; }
  FileSystem& files() override { return file_system; }
  Machine& machine() override { return memory_machine; }
  int ask_five(TextView title, TextView text) override {
    questions.push_back({Text(title), Text(text), MessageIcon::warning});
    return five_answer;
  }
  SystemQueries& system() override { return system_queries; }
  void end_thread_by_force(std::thread&) override { ++threads_ended_by_force; }
  int threads_ended_by_force = 0;
  int64_t current_second() override { return second; }
  std::pair<Text, Text> date_and_time(int64_t at) override {
    ++clock_formats;
    return {u"D" + decimal(at), u"T" + decimal(at)};
  }

  int user_locale(bool default_language) override {
    return default_language ? default_language_locale : language_locale;
  }
  std::optional<size_t> choose_language(const std::vector<Text>& names, size_t preselected,
                                        const LanguageDialogTexts& texts) override {
    language_dialogs.push_back({names, preselected, texts});
    return language_answer ? *language_answer : std::optional<size_t>(preselected);
  }

  struct LanguageDialog {
    std::vector<Text> names;
    size_t preselected;
    LanguageDialogTexts texts;
  };
  std::vector<LanguageDialog> language_dialogs;
  // Unset: the dialog takes its preselection; set to nullopt: cancelled.
  std::optional<std::optional<size_t>> language_answer;
  int language_locale = 1033, default_language_locale = 1033;

  std::vector<Message> messages;
  int pumps = 0;
  std::atomic<uint64_t> now{0};
  uint64_t tick_step = 0;
  int64_t second = 1000;
  int clock_formats = 0;
  MemoryFileSystem file_system;
  MemoryMachine memory_machine;
  std::vector<Message> questions;
  int five_answer = 1;  // 0 yes, 1 no, 2 cancel, 3 no to all, 4 yes to all
  FakeSystemQueries system_queries;
};

}  // namespace kyt::testing_support
