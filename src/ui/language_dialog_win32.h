// The language dialog TSetLanguage: a label, a drop-down list of the
// setup's languages, OK and Cancel.
#pragma once

#include <optional>
#include <vector>

#include "script/host.h"

namespace kyt {

// Shows the dialog modally, centred on the screen; the chosen index, or
// empty when the user cancelled or closed it.
std::optional<size_t> show_language_dialog(const std::vector<Text>& names, size_t preselected,
                                           const LanguageDialogTexts& texts);

}  // namespace kyt
