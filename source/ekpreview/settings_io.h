// Moving settings between the dialog's controls and DialogSettings.
#pragma once

#include "ekpreview/dialog_settings.h"
#include "host/dialog.h"

namespace ek::plugin {

// Sets every setting control to its default together with its range.
void setDefaults(host::Dialog &dialog);

// Sets a real control to the value, keeping the control's range.
void setRealValue(host::Dialog &dialog, const RealControl &control, double value);

// The defaults, overwritten by each control that can be read. "Live" and "Format" keep their
// defaults: the timer and the export read them themselves.
DialogSettings readSettings(const host::Dialog &dialog);

} // namespace ek::plugin
