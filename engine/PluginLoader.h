// Finds plug-ins by name (lib<NAME>.so on the search path) and opens them.
// Each plug-in is opened with RTLD_LOCAL so that plug-ins share nothing; it
// stays loaded for the life of the process.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vemora {

class PluginLoader {
 public:
  PluginLoader();
  void addFolder(const std::string& folder);
  std::vector<std::string> searchPath() const;
  // Opens lib<name>.so; throws ScoreError when the name is not a plain name,
  // no folder has it, or the file cannot be opened.
  void* open(const std::string& name);

 private:
  std::vector<std::string> addedFolders;
  std::vector<std::string> defaultFolders;
};

}  // namespace vemora
