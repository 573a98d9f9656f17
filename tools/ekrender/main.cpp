#include <cstdio>
#include <cstring>

#include "emberkit.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--info") == 0) {
    EKContext* c = ekCreate(0);
    if (c && ekLastError(c)[0] != '\0') {
      std::printf("no usable CUDA device (%s), rendering on the CPU\n", ekLastError(c));
      ekDestroy(c);
      c = ekCreate(EK_DEVICE_CPU);
    }
    char info[256];
    if (!c || ekDeviceInfo(c, info, sizeof info) != 0) {
      std::fprintf(stderr, "ekrender: %s\n", ekLastError(c));
      return 1;
    }
    std::printf("%s\n", info);
    ekDestroy(c);
    return 0;
  }
  return 0;
}
