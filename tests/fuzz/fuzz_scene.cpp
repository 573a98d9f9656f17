// libFuzzer target: the stand-in host's scene reader on arbitrary text. Any input must give a
// document or a SceneError; any other exception, memory errors and undefined behaviour are
// findings.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/scene_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  try {
    standin::parseScene(text, "fuzz.json");
  } catch (const standin::SceneError &) {
  }
  return 0;
}
