// Loading, refusal, registration and the command of the plug-in module.
#include "host/host_ids.h"
#include "plugin_fixture.h"

namespace flarion_test {
namespace {

using standin::PluginLoadStatus;

class PluginModule : public PluginTest {};

TEST_F(PluginModule, RefusesHostsBelowApiLevel2026300AndAcceptsFromThereOn) {
  const std::filesystem::path folder = scratch_.path() / "plugins";
  stagePlugin(folder, Renderer::Real);
  {
    standin::HostOptions options;
    options.apiLevel = 2026299;
    standin::Host host(options);
    const standin::PluginLoad load = host.loadPlugin(folder);
    EXPECT_EQ(load.status, PluginLoadStatus::Refused);
    EXPECT_FALSE(host.pluginLoaded());
    EXPECT_TRUE(host.commands().empty());
    EXPECT_EQ(host.particleLibraryLoads(), 0);
    EXPECT_TRUE(host.misuses().empty());
  }
  standin::HostOptions options;
  options.apiLevel = 2026300;
  standin::Host host(options);
  EXPECT_EQ(host.loadPlugin(folder).status, PluginLoadStatus::Loaded);
  host.unloadPlugin();
  EXPECT_TRUE(host.misuses().empty());
}

TEST_F(PluginModule, StartsWithItsCommandAndLoadsTheParticleLibraryOnce) {
  start(Renderer::Real);
  EXPECT_EQ(host_->moduleIdentifier(), "com.emberkit.flarion");
  ASSERT_EQ(host_->commands().size(), 1u);
  const standin::RegisteredCommand &command = host_->commands().front();
  EXPECT_EQ(command.id, 1071346);
  EXPECT_EQ(command.name, "Flarion");
  EXPECT_EQ(command.help, "Live GPU preview and EXR/PNG export for Thinking Particles");
  EXPECT_EQ(host_->particleLibraryLoads(), 1);
  EXPECT_TRUE(host_->sendPluginMessage(ek::host::message::kStartActivity));
  EXPECT_EQ(host_->particleLibraryLoads(), 1);
  EXPECT_FALSE(host_->sendPluginMessage(4242)); // not a message the plug-in handles
}

TEST_F(PluginModule, CommandOpensTheDialogNonModallyAt1100By700) {
  start(Renderer::None);
  standin::DialogWindow &window = openDialog();
  EXPECT_TRUE(window.isOpen);
  EXPECT_EQ(window.pluginId, 1071346);
  EXPECT_EQ(window.defaultSize.width, 1100);
  EXPECT_EQ(window.defaultSize.height, 700);
  EXPECT_EQ(window.title, "Flarion");
  EXPECT_FALSE(window.restoredFromLayout);
  // Running the command again while the window is open leaves it as it is.
  ASSERT_TRUE(host_->userSetNumber(window, control::kSamples, 12));
  EXPECT_TRUE(host_->runCommand(kCommandId));
  EXPECT_EQ(window.timesOpened, 1);
  EXPECT_EQ(control(control::kSamples).intValue, 12);
}

TEST_F(PluginModule, LayoutRestorePutsTheDialogBack) {
  start(Renderer::None);
  EXPECT_TRUE(host_->restoreLayout(kCommandId));
  standin::DialogWindow *window = host_->dialog(kCommandId);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isOpen);
  EXPECT_TRUE(window->restoredFromLayout);
  EXPECT_EQ(window->title, "Flarion");
}

TEST_F(PluginModule, EndsCleanlyWithTheWindowOpen) {
  start(Renderer::Real);
  openDialog();
  tick();
  host_->unloadPlugin();
  EXPECT_FALSE(host_->pluginLoaded());
  EXPECT_TRUE(host_->misuses().empty());
  // The same host can load the module again and open a fresh dialog.
  ASSERT_EQ(host_->loadPlugin(scratch_.path() / "plugins").status, PluginLoadStatus::Loaded);
  EXPECT_EQ(openDialog().timesOpened, 1);
}

} // namespace
} // namespace flarion_test
