#include "plugin_call.h"

#include <string>

#include "host_state.h"

namespace standin {

namespace {

// The status line after a callback that finished a preview image. The host does not know which
// control the plug-in uses for its status, so it takes the text the plug-in set last on a static
// text during the callback; failing that, the current text of the static text the plug-in set
// last in the window of the redrawn area; failing that, nothing.
std::string statusAfterCall(HostState &s, const PreviewActivity &activity) {
  if (activity.status) {
    return *activity.status;
  }
  const DialogWindow *window = s.dialogHandles.find(asHandle<HostDialog>(activity.redrawWindow));
  const Control *text = window ? window->find(window->lastTextSet) : nullptr;
  return text ? text->text : std::string();
}

// An image event when the plug-in both set bitmap rows and asked a user area to redraw.
void recordImage(HostState &s) {
  const PreviewActivity &activity = s.previewActivity;
  if (!activity.rowsSet || activity.redrawArea == 0) {
    return;
  }
  s.previewEvents.push_back(PreviewEvent{s.ticksFired, s.clockMs, PreviewEvent::Kind::Image,
                                         activity.redrawArea, activity.bitmapSize.width,
                                         activity.bitmapSize.height, statusAfterCall(s, activity)});
}

} // namespace

PluginCall::PluginCall(HostState &state) : state_(state) {
  if (state_.callbackDepth++ == 0) {
    state_.callbackStart = std::chrono::steady_clock::now();
    state_.previewActivity = PreviewActivity{};
  }
}

PluginCall::~PluginCall() {
  if (state_.callbackDepth > 1) {
    --state_.callbackDepth;
    return;
  }
  state_.clockMs = state_.now(); // still inside: now() includes the call's work
  state_.callbackDepth = 0;
  recordImage(state_);
}

} // namespace standin
