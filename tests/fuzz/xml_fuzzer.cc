// The XML reader on arbitrary bytes: no crash, and whatever it accepts it
// writes back in a form it reads again with the same content.
#include <cstdint>
#include <cstdlib>

#include "base/xml.h"

using namespace kyt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool preserve : {false, true}) {
    auto document = XmlDocument::parse(bytes, preserve);
    if (!document) continue;
    for (int format : {0, 2}) {
      std::string saved = document->save(format);
      auto again = XmlDocument::parse(saved, true);
      if (!again) abort();
      // Layout adds white space only between elements; the text of an
      // element of element-only content is what it was.
      if (format == 0 && again->save(0) != saved) abort();
    }
  }
  return 0;
}
