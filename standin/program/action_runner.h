// Carrying out flarion-host's actions in the stand-in host as the user.
#pragma once

#include <cstdint>
#include <string>

#include "host.h"
#include "program/actions.h"

namespace standin::program {

// Does what the action says in the dialog of the command and returns a line that tells what
// happened. Throws std::invalid_argument when the dialog or the host refuses the action.
std::string applyAction(Host &host, int32_t commandId, const Action &action);

} // namespace standin::program
