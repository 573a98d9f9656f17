/* Writes an image into a folder that does not exist through the library's C interface and prints
 * the reason the library gives, read as a program that does not share the library's C runtime
 * must read it. Exits with 0 when the reason is the missing folder's, ENOENT. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "emberkit.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: write_reason MISSING_FOLDER/IMAGE.png\n");
    return 2;
  }
  const float pixel[4] = {0.5f, 0.5f, 0.5f, 1.0f};
  if (ekSavePNG(argv[1], 1, 1, pixel, 0) == 0) {
    fprintf(stderr, "%s was written\n", argv[1]);
    return 1;
  }
  const int reason = ekLastWriteError();
  printf("could not write %s: %s\n", argv[1], strerror(reason));
  return reason == ENOENT ? 0 : 1;
}
