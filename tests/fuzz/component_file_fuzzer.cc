// The component file reader on arbitrary bytes, with and without merge: no
// crash, the model stays consistent, and what it wrote reads back the same.
#include <cstdint>
#include <cstdlib>

#include "install/component_file.h"

using namespace kyt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (bool merge : {false, true}) {
    Session session;
    Variables variables;
    session.components.define(u"Main", true, u"");
    read_component_file(bytes, session, variables, {.merge = merge});
    const ComponentModel& model = session.components;
    if (model.states().size() != model.components().size()) abort();
    (void)model.additional_space();
    (void)model.tree();
    (void)model.check_list();
    std::string written = write_component_file(session, variables, u"C:\\sources\\");
    (void)update_component_file(bytes, session, variables);
    Session again;
    Variables again_variables;
    read_component_file(written, again, again_variables, {});
    if (!(again.components.components() == model.components()) || !(again.components.states() == model.states()))
      abort();
  }
  return 0;
}
