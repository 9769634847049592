// The reader's parsed archive, shared with the parts of the library that
// rewrite archives (delete_items).
#pragma once

#include <memory>

#include "media/sevenzip/codec.h"
#include "media/sevenzip/format.h"

namespace kyt::sevenzip {

struct Reader::State {
  InStream* archive = nullptr;
  StreamsInfo streams;
  std::vector<uint64_t> pack_offsets;   // absolute offset of every packed stream
  std::vector<uint64_t> pack_offsets_of_header;  // the same for an encoded header's streams
  std::vector<uint64_t> folder_first_stream;  // index into streams.sizes of each folder's first item
  std::vector<Entry> entries;
  std::vector<int64_t> entry_stream;    // index into streams.sizes, -1 for items without data
  std::vector<int64_t> entry_folder;    // folder of each item with data, -1 otherwise
  PasswordProvider password_provider;
  std::u16string password;
  bool password_asked = false;

  // The decoded bytes of a folder (all its items, one after the other).
  Error open_folder(const StreamsInfo& info, size_t folder, std::unique_ptr<Source>& source);
  // Turns a decoding failure of an encrypted folder into wrong_password.
  static Error explain(Error error, const Folder& folder);
};

struct ReaderAccess {
  static Reader::State& state(Reader& reader) { return *reader.state_; }
};

}  // namespace kyt::sevenzip
