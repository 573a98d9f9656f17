// The controls of the Flarion dialog, row by row.
#pragma once

#include "ekpreview/language.h"
#include "host/dialog.h"

namespace ek::plugin {

// Adds every control with its labels in the given language. The preview area (control
// kPreviewArea) is added but not attached.
void buildLayout(host::Dialog &dialog, Language language);

} // namespace ek::plugin
