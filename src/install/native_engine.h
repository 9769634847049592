// The native apply engine: executes action records against the machine,
// records an undo entry before every change, asks the overwrite and error
// questions, reports weighted progress, and replays the undo log for
// uninstall and rollback. It runs on the worker thread; everything it
// shares with the main thread goes through the variable store.
#pragma once

#include <set>

#include <atomic>
#include <functional>
#include <vector>

#include "bootstrap/payload.h"
#include "install/machine.h"
#include "install/install_state.h"
#include "script/host.h"
#include "script/variables.h"
#include "ui/messages.h"

namespace kyt {

// The answers of the five-button questions (overwrite and error).
enum class Answer { yes, no, cancel, no_to_all, yes_to_all };

// What the engine needs from around it.
struct NativeContext {
  Variables& variables;
  Host& host;
  Machine& machine;
  FileSystem& log_files;  // where the undo log files live
  InstallState& state;
  const Payload& payload;
  const MessageTable& messages;
  // The setup log (the start-up trace); may be empty.
  std::function<void(TextView)> log;
  // The five-button questions; without them a question is answered "no".
  std::function<Answer(TextView title, TextView text)> ask;
  // Set when the worker is asked to stop.
  const std::atomic<bool>* stop = nullptr;
};

// While it lives, an existing object's security is taken over (with
// NATIVE_OVERRIDE_PERMISSIONS "TRUE"): the current account becomes owner
// with full access. Its end puts the kept owner and access list back, onto
// a replacing file too. Security that cannot be read is taken only with
// NATIVE_OVERRIDE_NON_RESTORABLE_PERMISSIONS "TRUE" (and not put back).
class TakenSecurity {
 public:
  TakenSecurity(Machine& machine, const Variables& variables, const Text& file);
  TakenSecurity(Machine& machine, const Variables& variables, const RegistryKey& key);
  ~TakenSecurity();
  TakenSecurity(const TakenSecurity&) = delete;
  TakenSecurity& operator=(const TakenSecurity&) = delete;
  bool taken() const { return taken_; }

 private:
  template <class Object>
  void take(const Variables& variables, const Object& object);
  Machine& machine_;
  bool taken_ = false;
  std::optional<Text> file_;
  std::optional<RegistryKey> key_;
  std::optional<std::string> kept_;
};

class NativeEngine {
 public:
  explicit NativeEngine(NativeContext context) : c_(std::move(context)) {}

  // One action, logged as a "NATIVE INSTALL" block. False when it failed:
  // cancelled, or aborted through the error processor.
  bool run_action(TextView command, const std::vector<Text>& record, TextView mode64);
  // The queued actions in order; status 1, or 0 at the first failure.
  int run_queue();
  // Replays the undo log from the last entry to the first: 1 when every
  // entry was processed, 0 when stopped. A rollback is never stopped by
  // cancellation and gives back the files the run replaced.
  int replay(bool uninstall);

  // The undo log's base path: NATIVE_LOGGING when it names a complete log,
  // else the engine cache folder + the project GUID.
  Text log_base() const;
  bool logging_off() const;

  // Decisions, exposed for their tables of cases.
  struct OverwriteDecision {
    bool overwrite = false;
    bool cancelled = false;
  };
  // `destination_exists` when the caller knows already.
  OverwriteDecision overwrite_processor(const Text& source, const Text& destination,
                                        std::optional<bool> destination_exists = std::nullopt);
  struct ErrorDecision {
    bool retry = false;
    bool abort = false;
  };
  ErrorDecision error_processor(TextView message, uint32_t code);
  // Adds the weight to NATIVE_PROGRESS and reports it; false when the
  // worker was asked to stop.
  bool progress_step(TextView text, int64_t weight);

 private:
  bool execute(TextView command, const std::vector<Text>& record, TextView mode64);
  // Performs one change, asking the error processor on failure; true when
  // it finally succeeded, false when given up (ignored or aborted, see
  // aborted_).
  // `failure`, when given and not empty, replaces the system error text.
  bool attempt(const std::function<uint32_t()>& change, TextView object, const Text* failure = nullptr);
  bool attempt_text(const std::function<Text()>& change, TextView object);
  struct FileFlags {
    bool read_only = false, hidden = false, system = false, stop_on_skip = false, shared = false, permanent = false,
         only_if_missing = false, move = false, self_register = false;
  };
  static FileFlags install_flags(const std::vector<Text>& record);
  bool create_file_type(const std::vector<Text>& record);
  // Registers (or unregisters) a file: regsvr32 for a library, the
  // program's own switch for an ".EXE".
  bool register_file(const Text& path, bool unregister);
  bool create_shortcut(const std::vector<Text>& record);
  bool copy_local_files(const std::vector<Text>& record);
  bool install_service(const std::vector<Text>& record);
  bool create_data_source(const std::vector<Text>& record);
  bool install_odbc_driver(const std::vector<Text>& record);
  bool control_service(const std::vector<Text>& record);
  // `written` tells whether the value was finally written.
  bool write_registry(const std::vector<Text>& record, bool* written = nullptr);
  bool create_folder(const Text& folder, bool record_undo);
  // The folder exists; folders seen once are not asked about again during
  // this run of the engine (nothing in one run removes a folder it
  // installs into).
  bool folder_present(const Text& folder);
  std::set<Text> present_folders_;
  bool install_files(const std::vector<Text>& record);
  bool install_assembly(const std::vector<Text>& record);
  // Calls `visit` with each (stored path, sub-folder) of a file group until
  // it returns false; false then.
  bool for_each_group_file(const Text& header, const std::function<bool(const Text& stored, const Text& sub)>& visit);
  bool install_one_file(const Text& source, const Text& destination, const FileFlags& flags, bool& skip_rest);
  bool delete_files(const std::vector<Text>& record);
  bool edit_ini_file(const std::vector<Text>& record);
  bool set_environment(const std::vector<Text>& record);
  bool keep_aside(const Text& destination);
  bool ensure_log_folder();
  std::vector<Text> missing_folders(const Text& folder);
  Answer settle(Answer answer, TextView setting_name, TextView all_yes, TextView all_no, TextView source);
  void share(const Text& destination, bool existed, bool permanent, bool self_register);
  Text log_folder() const;
  Text free_name(const Text& stem);

  bool undo(const UndoEntry& entry, bool uninstall);
  bool undo_registry(const std::vector<Text>& fields);
  bool undo_file(const Text& path);
  bool undo_share(const Text& path, bool self_register);
  bool undo_folders(const std::vector<Text>& folders);
  bool undo_ini(const std::vector<Text>& fields);
  bool undo_environment(const std::vector<Text>& fields);

  void log(TextView line) {
    if (c_.log) c_.log(line);
  }
  bool stop_requested() const { return c_.stop && c_.stop->load(); }
  Text setting(TextView name) const { return c_.variables.value_of(name); }
  void note_undo(TextView action, const std::vector<Text>& fields);

  NativeContext c_;
  Text mode64_ = u"Win32";
  bool aborted_ = false;
  bool rolling_back_ = false;
  int64_t progress_max_ = 0;
};

// The undo log's base path: NATIVE_LOGGING when it names a complete log,
// else the engine cache folder + the project GUID.
Text undo_log_base(const Variables& variables, FileSystem& files);

// The registry key of a record's root field ("2", "2|SERVER"): the
// computer counts for roots 2 and 3 only and gets its "\\" prefix.
RegistryKey registry_key(TextView root_field, TextView path);

}  // namespace kyt
