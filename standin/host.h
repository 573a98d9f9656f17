// The stand-in host: loads a plug-in module, keeps documents, dialogs and a virtual clock, and
// lets tests and programs act as the user. One Host runs one plug-in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host_state.h"
#include "plugin_module.h"

namespace standin {

enum class PluginLoadStatus {
  Loaded,
  NotLoadable, // the file is missing, not a library, or has no entry point
  Refused,     // the module declined the host at initialisation
  StartFailed, // the module did not start
};

struct PluginLoad {
  PluginLoadStatus status = PluginLoadStatus::NotLoadable;
  std::string message;
};

class Host {
public:
  explicit Host(HostOptions options = {});
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  // Plug-in module. Loading initialises, identifies and starts the module, then sends it the
  // start-activity message as a host does once every module has started.
  PluginLoad loadPlugin(const std::filesystem::path &folder);
  // Closes open windows, ends the module and unloads it; records what the module left behind.
  void unloadPlugin();
  bool pluginLoaded() const { return module_.loaded(); }
  const std::string &moduleIdentifier() const { return moduleIdentifier_; }
  const std::vector<RegisteredCommand> &commands() const { return state_.commands; }
  const RegisteredCommand *command(int32_t id) const;
  // Sends a plug-in message, as the host does for events every module hears about.
  bool sendPluginMessage(int32_t id);
  // Runs a registered command in the active document, as the user would from a menu.
  bool runCommand(int32_t id);
  // Restores a window layout that holds the command's dialog.
  bool restoreLayout(int32_t id);
  int32_t particleLibraryLoads() const { return state_.particleLibraryLoads; }

  // Documents.
  Document &addDocument(std::unique_ptr<Document> document, bool makeActive = true);
  Document *activeDocument() const { return state_.activeDocument; }
  // The user plays the timeline to the frame (every frame from the start simulated in order, as
  // the scene is loaded as well) and stops there.
  void setFrame(Document &document, int32_t frame);
  // To be called after a test changed a document's objects: gives them handles and marks the
  // document changed.
  void sceneChanged(Document &document);
  size_t documentCount() const { return state_.documents.size(); }

  // Dialogs: the dialog object last opened with the ID (open or closed again), or null.
  DialogWindow *dialog(int32_t pluginId);
  void closeDialog(DialogWindow &window);

  // User input on controls, refused (false) for unknown or disabled controls and for values a
  // control cannot hold (not-a-number and infinities among them). Numbers are limited to the
  // control's range as its field would do. Each
  // accepted input reaches the plug-in as a command message.
  bool userSetBool(DialogWindow &window, int32_t id, bool value);
  bool userSetNumber(DialogWindow &window, int32_t id, double value);
  bool userChoose(DialogWindow &window, int32_t id, int32_t entryValue);
  bool userPress(DialogWindow &window, int32_t id);
  // The window's layout gives the user area a new size; it is drawn again.
  bool setUserAreaSize(DialogWindow &window, int32_t id, int32_t width, int32_t height);
  const RgbImage *userAreaImage(const DialogWindow &window, int32_t id) const;

  // Virtual clock. Timers fire only while the host advances it, in due order; with
  // HostOptions::clockFollowsWork the time the plug-in works in its callbacks passes as well.
  double now() const { return state_.now(); }
  // Fires the timers that fall due within the next `milliseconds`; the clock ends there, or
  // later when the plug-in's work took it further. It never goes back.
  void advance(double milliseconds);
  // Fires the next `count` timer callbacks of open windows in due order, moving the clock forward
  // to each due time that lies ahead. Returns how many fired: fewer when no open window has a
  // timer.
  int32_t runTicks(int32_t count);
  // Timer callbacks fired since the host was made.
  int64_t ticksFired() const { return state_.ticksFired; }

  // Scripted answers and settings the user may change while the host runs.
  void setCurrentLanguage(std::optional<std::string> identifier) {
    state_.options.currentLanguage = std::move(identifier);
  }
  void setFolderChoice(std::optional<std::string> folder) {
    state_.folderChoice = std::move(folder);
  }
  void setMainThreadAnswer(bool answer) { state_.mainThreadAnswer = answer; }
  void setBusy(int32_t code, bool busy);

  // Records.
  const std::vector<std::string> &messageBoxes() const { return state_.messageBoxes; }
  const std::vector<StatusBarEvent> &statusBar() const { return state_.statusBar; }
  // Every change of a static text in the plug-in's dialogs, in order.
  const std::vector<TextEvent> &textEvents() const { return state_.textEvents; }
  const std::vector<std::string> &folderChooserTitles() const { return state_.folderChooserTitles; }
  const std::vector<std::string> &misuses() const { return state_.misuses; }
  // Preview images the plug-in finished and user area draws, in the order they happened.
  const std::vector<PreviewEvent> &previewEvents() const { return state_.previewEvents; }

  // The operation table, for tests that call the host as a plug-in would.
  const HostApi &api() const { return state_.api; }

private:
  // Sends a command message for the control after a user input, then draws what is pending.
  void notify(DialogWindow &window, int32_t id);
  Control *userControl(DialogWindow &window, int32_t id);
  // Fires the open window's timer that is due first, if it is due no later than `latestDue`.
  bool fireNextTimer(double latestDue);
  int32_t sendToModule(int32_t message, void *data);

  HostState state_;
  PluginModule module_;
  std::string moduleIdentifier_;
};

} // namespace standin
