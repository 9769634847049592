// The interpreter's host on Windows: message boxes, the message pump, the
// clock and the file system.
#pragma once

#include "install/machine_win32.h"
#include "media/archive_engine_win32.h"
#include "script/host.h"
#include "system/file_system_win32.h"
#include "system/system_queries_win32.h"

namespace kyt {

class Win32Host : public Host {
 public:
  void show_message(TextView title, TextView text, MessageIcon icon) override;
  void process_messages() override;
  uint64_t tick_count() override;
  int64_t current_second() override;
  std::pair<Text, Text> date_and_time(int64_t second) override;
  FileSystem& files() override { return files_; }
  SystemQueries& system() override { return system_; }
  Machine& machine() override { return machine_; }
  int ask_five(TextView title, TextView text) override;
  void end_thread_by_force(std::thread& thread) override;
  ArchiveWrappers* archives() override { return archives_ ? &archives_->wrappers() : nullptr; }
  std::optional<Text> extract_out_of_process(const Text& archive, const Text& password, const Text& destination,
                                             const std::vector<Text>& items, bool keep_paths,
                                             bool overwrite) override {
    if (!archives_) return std::nullopt;
    return archives_->extract_out_of_process(archive, password, destination, items, keep_paths, overwrite);
  }
  void set_archives(Win32Archives* archives) { archives_ = archives; }
  int user_locale(bool default_language) override;
  std::optional<size_t> choose_language(const std::vector<Text>& names, size_t preselected,
                                        const LanguageDialogTexts& texts) override;

 private:
  Win32FileSystem files_;
  Win32SystemQueries system_;
  Win32Machine machine_;
  Win32Archives* archives_ = nullptr;
};

// A message box without owner window.
void show_message_box(TextView title, TextView text, MessageIcon icon);

// The user's language (or default language) as a locale identifier.
int user_locale_identifier(bool default_language);

}  // namespace kyt
