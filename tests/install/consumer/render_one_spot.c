/* Renders a few white particles at one point ahead of the camera on the CPU and checks that
 * the middle of the image is lit and a corner is not: a program built against an installed
 * emberkit, which exits 0 when the library renders. */
#include <emberkit.h>

#include <stdio.h>
#include <string.h>

enum { kSize = 32, kParticles = 16 };

static int fail(EKContext *context, const char *step) {
  fprintf(stderr, "%s failed: %s\n", step, context ? ekLastError(context) : "no context");
  if (context)
    ekDestroy(context);
  return 1;
}

int main(void) {
  if (ekApiVersion() != EK_API_VERSION) {
    fprintf(stderr, "library interface %d, header %d\n", ekApiVersion(), EK_API_VERSION);
    return 1;
  }
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  if (!context)
    return fail(context, "ekCreate");

  /* The camera below looks down -z with a 90 degree field, so at a distance of 10 the image spans
   * -10..10 on both axes: (0.3125, -0.3125) is the centre of pixel (16, 16). */
  EKV3 positions[kParticles];
  for (int i = 0; i < kParticles; ++i) {
    positions[i].x = 0.3125f;
    positions[i].y = -0.3125f;
    positions[i].z = -10.0f;
  }
  if (ekReserve(context, kParticles, 0) != 0)
    return fail(context, "ekReserve");
  if (ekUpload(context, positions, NULL, NULL, kParticles, 0) != 0)
    return fail(context, "ekUpload");
  if (ekSetCount(context, kParticles) != 0)
    return fail(context, "ekSetCount");

  EKCamera camera;
  memset(&camera, 0, sizeof camera);
  camera.target.z = -1.0f;
  camera.up.y = 1.0f;
  camera.fovY = 90.0f;
  EKRenderSettings settings;
  memset(&settings, 0, sizeof settings);
  settings.width = kSize;
  settings.height = kSize;
  settings.brightness = 1.0f;
  settings.exposure = 1.0f;
  settings.samples = 1;
  settings.mode = EK_MODE_ADDITIVE;

  static uint8_t image[kSize * kSize * 4];
  if (ekRender(context, &camera, &settings, NULL, 0, image, NULL, NULL) != 0)
    return fail(context, "ekRender");
  ekDestroy(context);

  const uint8_t *middle = image + ((kSize / 2) * kSize + kSize / 2) * 4;
  const uint8_t *corner = image;
  if (middle[0] == 0 || corner[0] != 0) {
    fprintf(stderr, "middle red %d, corner red %d: expected a lit middle and a dark corner\n",
            middle[0], corner[0]);
    return 1;
  }
  printf("rendered: middle red %d\n", middle[0]);
  return 0;
}
