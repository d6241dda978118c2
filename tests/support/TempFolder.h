// A fresh folder for one test, under the system's temporary folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

// prefix-XXXXXX, made new; throws when it cannot be made.
inline std::filesystem::path makeTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder like " + pattern);
  return pattern;
}
