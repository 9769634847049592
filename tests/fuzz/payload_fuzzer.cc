// Payload reader on arbitrary bytes: it must never crash or hang, and a
// payload it accepts must survive the writer and the reader again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bootstrap/payload.h"
#include "bootstrap/pe_image.h"

using namespace kyt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)pe_image_end(bytes);
  Payload payload;
  if (parse_payload(bytes, payload) != PayloadStatus::ok) return 0;
  for (size_t i = 0; i < payload.command_count() && i < 64; ++i) {
    (void)payload.parameters.get(payload.command_ids.at_or_empty(i), 1);
    (void)payload.command_header(i);
    (void)payload.source_position(i);
    (void)payload.include_entry(i);
  }
  (void)payload.build_setting(u"CACHESOURCES");
  (void)payload.project_info_value(u"offline");
  std::string text, error;
  if (write_payload(payload, text, error)) {
    Payload again;
    if (parse_payload(text, again) != PayloadStatus::ok) abort();
    if (!(again.command_names == payload.command_names) || !(again.build_settings == payload.build_settings)) abort();
  }
  return 0;
}
