// One call of the host into the plug-in (a callback or a module message). While it lasts the
// virtual clock follows the real time the plug-in works; when the outermost call returns, the
// clock keeps that time and what the plug-in showed during the call is recorded.
#pragma once

namespace standin {

struct HostState;

class PluginCall {
public:
  explicit PluginCall(HostState &state);
  ~PluginCall();
  PluginCall(const PluginCall &) = delete;
  PluginCall &operator=(const PluginCall &) = delete;

private:
  HostState &state_;
};

} // namespace standin
