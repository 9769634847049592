// The undo log: one entry per change the apply engine made, kept in four
// parallel UTF-8 files that share a base path:
//
//   base + ".native.elements.log"   the undo operation's name, one per line
//   base + ".native.data.log"       its arguments as comma-text (may be empty)
//   base + ".native.weight.log"     its progress weight, decimal
//   base + ".native.bitness.log"    the 64-bit mode word of the change
//
// Line n of the four files is entry n, in the order the changes were made.
// Lines end with CR LF; a byte-order mark is skipped when reading. Entries
// are collected in memory (pending) and appended to the files by flush.
#pragma once

#include <vector>

#include "base/text.h"
#include "system/file_system.h"

namespace kyt {

struct UndoEntry {
  Text element;
  Text data;  // comma-text
  int64_t weight = 0;
  Text bitness;
  bool operator==(const UndoEntry&) const = default;
};

// The undo operation of a recorded action ("Create File" -> "Delete File")
// and its weight; empty element for an action that is not undone.
UndoEntry undo_entry_for(TextView action, const std::vector<Text>& fields, TextView bitness);

class UndoLog {
 public:
  // Appends a pending entry, unless logging is off.
  void record(TextView action, const std::vector<Text>& fields, TextView bitness, bool logging_off);
  // Removes the last pending entry (its change finally failed).
  void withdraw_last(bool logging_off);
  // Appends the pending entries to the files at `base` and clears them.
  // Returns true when the log's folder had to be created for them.
  bool flush(FileSystem& files, const Text& base);
  const std::vector<UndoEntry>& pending() const { return pending_; }
  // Drops pending entries with this element and data.
  void forget(TextView element, TextView data) {
    std::erase_if(pending_, [&](const UndoEntry& e) { return e.element == element && e.data == data; });
  }
  void clear() { pending_.clear(); }

  // All four files exist at `base`; with `create`, when none exists, they
  // are created empty.
  static bool ensure(FileSystem& files, const Text& base, bool create);
  // The entries of the files. Only lines complete in all four files count,
  // so a damaged or cut log never yields an entry that was not recorded.
  static std::vector<UndoEntry> load(FileSystem& files, const Text& base);
  // Deletes the four files.
  static void remove(FileSystem& files, const Text& base);
  static const std::array<TextView, 4>& suffixes();

 private:
  std::vector<UndoEntry> pending_;
};

}  // namespace kyt
