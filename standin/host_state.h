// Everything the stand-in host knows while a plug-in runs in it. The operation table and the
// host's user-facing side both work on this state.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "handles.h"
#include "host/host_api.h"
#include "preview_event.h"
#include "scene/document.h"
#include "ui/dialog_window.h"
#include "ui/image.h"

namespace standin {

struct HostState;

} // namespace standin

// The host instance named in the operation table.
struct HostInstance {
  standin::HostState *state;
};

namespace standin {

// API level the stand-in reports unless told otherwise.
constexpr int32_t kStandInApiLevel = 2026500;

struct InstalledLanguage {
  std::string identifier;
  bool current = false;
};

struct HostOptions {
  int32_t apiLevel = kStandInApiLevel;
  // The current language's identifier; when absent the plug-in must enumerate the installed ones.
  std::optional<std::string> currentLanguage = std::string("en-US");
  std::vector<InstalledLanguage> installedLanguages = {{"en-US", true}, {"de-DE", false}};
  // The virtual clock runs on with real time while the plug-in works in a callback, so that a
  // slow plug-in sees time pass and misses timer periods as it would in a real host. When false
  // the clock moves only when the host is told to advance it, which keeps times exact.
  bool clockFollowsWork = true;
};

struct RegisteredCommand {
  int32_t id = 0;
  std::string name;
  std::string help;
  HostCommandCallbacks callbacks{};
};

struct StatusBarEvent {
  bool cleared = false;
  int32_t percent = 0;
  int64_t tick = 0; // timer callbacks fired when it happened
};

// A static text of a dialog that the plug-in changed: status lines and progress texts.
struct TextEvent {
  int64_t tick = 0;
  double clockMs = 0.0;
  int32_t controlId = 0;
  std::string text;
};

// Where an object sits: its siblings (null for stand-alone objects) and its owner.
struct ObjectSlot {
  SceneObject *object = nullptr;
  const std::vector<std::unique_ptr<SceneObject>> *siblings = nullptr;
  size_t index = 0;
  Document *owner = nullptr;
};

// One per thread; its address tells the threads apart.
inline thread_local char threadMarker = 0;

struct HostState {
  explicit HostState(HostOptions hostOptions);

  HostInstance instance{this};
  HostApi api{};
  HostOptions options;
  const char *mainThreadMarker = &threadMarker; // of the thread that made the host
  // The virtual clock in milliseconds, as it stood when the current callback began (see now()).
  double clockMs = 0.0;
  // Plug-in callbacks in progress; one the plug-in causes inside another is nested in it.
  int32_t callbackDepth = 0;
  std::chrono::steady_clock::time_point callbackStart; // of the outermost callback
  PreviewActivity previewActivity;                     // of the outermost callback
  int64_t ticksFired = 0;
  std::filesystem::path pluginFolder;

  HandleCounter handles;
  std::vector<std::unique_ptr<Document>> documents;
  std::set<const Document *> pluginDocuments; // clones the plug-in owns and must free
  Document *activeDocument = nullptr;
  HandleTable<Document> documentHandles;
  HandleTable<Document> viewHandles;
  HandleTable<Document> renderDataHandles;
  HandleTable<Document> particleHookHandles;
  std::map<uintptr_t, ObjectSlot> objects;
  std::map<uintptr_t, std::unique_ptr<SceneObject>> pluginObjects; // stand-alone clones

  std::vector<std::unique_ptr<DialogWindow>> dialogs;
  HandleTable<DialogWindow> dialogHandles;
  HandleTable<UserAreaState> userAreaHandles;
  std::map<uintptr_t, std::unique_ptr<RgbImage>> bitmaps;

  std::vector<RegisteredCommand> commands;
  int32_t particleLibraryLoads = 0;

  // Scripted answers.
  std::optional<std::string> folderChoice;
  bool mainThreadAnswer = true;
  std::set<int32_t> busy;

  // Records.
  std::vector<std::string> folderChooserTitles;
  std::vector<std::string> messageBoxes;
  std::vector<StatusBarEvent> statusBar;
  std::vector<TextEvent> textEvents;
  std::vector<std::string> misuses;
  std::vector<PreviewEvent> previewEvents;

  // The virtual clock as the plug-in reads it: with clockFollowsWork, inside a callback it is
  // clockMs plus the real time spent since the outermost callback began.
  double now() const;

  void recordMisuse(const char *operation, const std::string &what);
  // True on the thread that created the host; records misuse otherwise.
  // Every operation checks its thread, millions of times in a particle read, so the check is
  // inline and compares the address of a per-thread marker instead of asking the system.
  bool checkThread(const char *operation) {
    if (&threadMarker == mainThreadMarker) {
      return true;
    }
    recordWrongThread(operation);
    return false;
  }
  void recordWrongThread(const char *operation);

  Document &addDocument(std::unique_ptr<Document> document);
  void removeDocument(Document &document);
  // Gives the document's objects handles again after the object tree changed.
  void refreshObjects(Document &document);
  uintptr_t adoptObject(std::unique_ptr<SceneObject> object); // a stand-alone plug-in clone

  // Handle lookups that record misuse for unknown or freed handles.
  Document *document(HostDocument *handle, const char *operation);
  ObjectSlot *object(HostObject *handle, const char *operation);
  DialogWindow *dialog(HostDialog *handle, const char *operation);
  Control *control(DialogWindow &window, int32_t id, const char *operation);
  UserAreaState *userArea(HostUserArea *handle, const char *operation);
  RgbImage *bitmap(HostBitmap *handle, const char *operation);

  // Window life.
  bool openWindow(DialogWindow &window, int32_t pluginId, Size size, bool restored);
  void closeWindow(DialogWindow &window, bool tellPlugin);
  void forgetUserAreas(DialogWindow &window);
  // Calls the draw callback of every user area that waits for one. Inside a plug-in callback
  // nothing is drawn: the host draws once the plug-in has returned, as a real host's event loop
  // does, and every caller of a plug-in callback draws afterwards.
  void drawPendingUserAreas();

private:
  void registerObjects(Document *owner, const std::vector<std::unique_ptr<SceneObject>> &list);
  void unregisterObjects(const Document &document);
};

// Fills the operation table with the stand-in's operations.
HostApi makeHostApi(HostInstance &instance, int32_t apiLevel);

} // namespace standin
