// Stands in for the CUDA backend in a build without a CUDA compiler: every call fails, so
// ekCreate(0) reports that the device could not be initialised, as on a machine without a GPU.
#include "device.h"

namespace ek {

namespace {

constexpr DeviceStatus kNotBuilt = 1;

class NoCudaDevice final : public Device {
public:
  DeviceStatus makeCurrent() override { return kNotBuilt; }
  DeviceStatus allocate(void **pointer, uint64_t) override {
    *pointer = nullptr;
    return kNotBuilt;
  }
  void release(void *) override {}
  DeviceStatus copyToDevice(void *, const void *, uint64_t) override { return kNotBuilt; }
  DeviceStatus copyToHost(void *, const void *, uint64_t) override { return kNotBuilt; }
  DeviceStatus fill(void *, int, uint64_t) override { return kNotBuilt; }
  DeviceStatus fillAsync(void *, int, uint64_t) override { return kNotBuilt; }
  DeviceStatus memoryInfo(uint64_t *freeBytes, uint64_t *totalBytes) override {
    *freeBytes = *totalBytes = 0;
    return kNotBuilt;
  }
  int multiprocessorCount() override { return 0; }
  DeviceStatus properties(DeviceProperties *) override { return kNotBuilt; }
  DeviceStatus createEvent(DeviceEvent *event) override {
    *event = nullptr;
    return kNotBuilt;
  }
  void destroyEvent(DeviceEvent) override {}
  DeviceStatus recordEvent(DeviceEvent) override { return kNotBuilt; }
  DeviceStatus synchronizeEvent(DeviceEvent) override { return kNotBuilt; }
  DeviceStatus elapsedMs(float *, DeviceEvent, DeviceEvent) override { return kNotBuilt; }
  DeviceStatus takeLaunchError() override { return kNotBuilt; }
  DeviceStatus synchronize() override { return kNotBuilt; }
  std::string errorText(DeviceStatus) override {
    return "CUDA support was not built into this library";
  }
  void launch(uint32_t, const KernelArgs &) override {}
};

} // namespace

std::unique_ptr<Device> createCudaDevice(int) { return std::make_unique<NoCudaDevice>(); }

} // namespace ek
