#include "ekpreview/plugin.h"

#include <memory>

#include "ekpreview/flarion_command.h"
#include "ekpreview/flarion_dialog.h"
#include "ekpreview/language.h"
#include "ekpreview/plugin_ids.h"
#include "ekpreview/texts.h"
#include "host/command.h"
#include "host/connection.h"
#include "host/host_ids.h"
#include "host/particle_system.h"

namespace ek::plugin {

namespace {

// Everything the module keeps between start and end.
class Plugin {
public:
  bool start() {
    const Language language = chooseLanguage();
    dialog_ = std::make_unique<FlarionDialog>(language);
    command_ = std::make_unique<FlarionCommand>(*dialog_);
    return host::registerCommand(kCommandId, pick(text::kCommandName, language),
                                 pick(text::kCommandHelp, language), *command_);
  }

  bool message(int32_t id) {
    if (id != host::message::kStartActivity) {
      return false;
    }
    if (!particleLibraryLoaded_) {
      particleLibraryLoaded_ = host::ParticleSystem::loadLibrary();
    }
    return true;
  }

private:
  std::unique_ptr<FlarionDialog> dialog_;
  std::unique_ptr<FlarionCommand> command_;
  bool particleLibraryLoaded_ = false;
};

std::unique_ptr<Plugin> g_plugin;

} // namespace

int32_t handleModuleMessage(int32_t message, void *data) {
  switch (message) {
  case HOST_MODULE_INIT:
    return host::connect(static_cast<const HostApi *>(data), kMinimumHostApiLevel) ==
                   host::ConnectResult::Connected
               ? 1
               : 0;
  case HOST_MODULE_IDENTIFY:
    if (data == nullptr) {
      return 0;
    }
    *static_cast<const char **>(data) = kModuleIdentifier;
    return 1;
  case HOST_MODULE_START:
    if (!host::connected() || g_plugin) {
      return 0;
    }
    g_plugin = std::make_unique<Plugin>();
    return g_plugin->start() ? 1 : 0;
  case HOST_MODULE_MESSAGE: {
    const auto *pluginMessage = static_cast<const HostPluginMessage *>(data);
    return g_plugin && pluginMessage && g_plugin->message(pluginMessage->id) ? 1 : 0;
  }
  case HOST_MODULE_END:
    g_plugin.reset();
    host::disconnect();
    return 1;
  default:
    return 0;
  }
}

} // namespace ek::plugin
