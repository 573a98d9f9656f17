/* Runs the usage example of emberkit.h, taken from the header's comment at configure time, on a
 * small cloud: the example must build against the header as it stands and write its image. */
#include <stdio.h>

#include "emberkit.h"

int renderCloud(const EKV3 *positions, const uint8_t *colors, uint64_t n);

int main(void) {
  enum { kParticles = 5000 };
  static EKV3 positions[kParticles];
  static uint8_t colors[4 * kParticles];
  for (int i = 0; i < kParticles; ++i) {
    positions[i].x = (float)((i * 37) % 200 - 100);
    positions[i].y = (float)((i * 91) % 200 - 100);
    positions[i].z = (float)((i * 53) % 200 - 100);
    for (int channel = 0; channel < 4; ++channel)
      colors[4 * i + channel] = 255;
  }
  remove("cloud.png");
  if (renderCloud(positions, colors, kParticles) != 0) {
    fprintf(stderr, "the example failed\n");
    return 1;
  }
  FILE *image = fopen("cloud.png", "rb");
  unsigned char signature[8] = {0};
  const int written = image && fread(signature, 1, sizeof signature, image) == sizeof signature &&
                      signature[1] == 'P' && signature[2] == 'N' && signature[3] == 'G';
  if (image)
    fclose(image);
  if (!written) {
    fprintf(stderr, "the example wrote no PNG image\n");
    return 1;
  }
  return 0;
}
