// The registered command: opens the dialog and puts it back into restored layouts.
#pragma once

#include "ekpreview/flarion_dialog.h"
#include "host/command.h"

namespace ek::plugin {

class FlarionCommand final : public host::CommandHandler {
public:
  explicit FlarionCommand(FlarionDialog &dialog) : dialog_(dialog) {}

  bool execute(host::Document) override { return dialog_.open(); }
  bool restoreLayout(void *layoutData) override { return dialog_.restore(layoutData); }

private:
  FlarionDialog &dialog_;
};

} // namespace ek::plugin
