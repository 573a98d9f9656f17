// Asking the system whether a library file is loaded in this process, without loading it.
#pragma once

#include <filesystem>

namespace flarion_test {

bool libraryIsLoaded(const std::filesystem::path &file);

} // namespace flarion_test
