// Saving stand-in images as PNG files.
#pragma once

#include <filesystem>
#include <string>

#include "ui/image.h"

namespace standin {

// Writes an 8-bit RGB PNG. Returns an empty text on success, otherwise the reason.
std::string savePng(const RgbImage &image, const std::filesystem::path &file);

} // namespace standin
