/* A renderer library that exports the interface but renders nothing. Built with
 * FAKE_API_VERSION to report another interface version, or with FAKE_OMIT_SAVE_PNG to lack one
 * export, so that the plug-in's binding can be tested against each flaw. */
#include "emberkit.h"

#ifndef FAKE_API_VERSION
#define FAKE_API_VERSION EK_API_VERSION
#endif

int32_t ekApiVersion(void) { return FAKE_API_VERSION; }
EKContext *ekCreate(int32_t device) {
  (void)device;
  return 0;
}
void ekDestroy(EKContext *context) { (void)context; }
const char *ekLastError(EKContext *context) {
  (void)context;
  return "fake renderer";
}
int32_t ekDeviceInfo(EKContext *context, char *buffer, int32_t size) {
  (void)context;
  (void)buffer;
  (void)size;
  return 1;
}
uint64_t ekGetCount(EKContext *context) {
  (void)context;
  return 0;
}
int32_t ekReserve(EKContext *context, uint64_t capacity, int32_t withVelocity) {
  (void)context;
  (void)capacity;
  (void)withVelocity;
  return 1;
}
int32_t ekUpload(EKContext *context, const EKV3 *positions, const uint8_t *colors,
                 const EKV3 *velocities, uint64_t count, uint64_t first) {
  (void)context;
  (void)positions;
  (void)colors;
  (void)velocities;
  (void)count;
  (void)first;
  return 1;
}
int32_t ekSetCount(EKContext *context, uint64_t count) {
  (void)context;
  (void)count;
  return 1;
}
int32_t ekGenerateTestCloud(EKContext *context, uint64_t count, uint32_t seed,
                            int32_t withVelocity) {
  (void)context;
  (void)count;
  (void)seed;
  (void)withVelocity;
  return 1;
}
int32_t ekRender(EKContext *context, const EKCamera *camera, const EKRenderSettings *settings,
                 const EKLight *lights, int32_t lightCount, uint8_t *image8, float *imageFloat,
                 float *gpuMs) {
  (void)context;
  (void)camera;
  (void)settings;
  (void)lights;
  (void)lightCount;
  (void)image8;
  (void)imageFloat;
  (void)gpuMs;
  return 1;
}
int32_t ekSaveEXR(const char *path, int32_t width, int32_t height, const float *rgba) {
  (void)path;
  (void)width;
  (void)height;
  (void)rgba;
  return 1;
}
#ifndef FAKE_OMIT_SAVE_PNG
int32_t ekSavePNG(const char *path, int32_t width, int32_t height, const float *rgba,
                  int32_t sixteenBit) {
  (void)path;
  (void)width;
  (void)height;
  (void)rgba;
  (void)sixteenBit;
  return 1;
}
#endif
