// Finds plug-ins by name (lib<NAME>.so on the search path) and opens them.
// Each plug-in is opened with RTLD_LOCAL so that plug-ins share nothing; it
// stays loaded for the life of the process.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vemora {

class PluginLoader {
 public:
  PluginLoader();
  void addFolder(const std::string& folder);
  std::vector<std::string> searchPath() const;
  struct Opened {
    void* handle;
    std::string path;  // the file that was opened
  };
  // Opens lib<name>.so; throws ScoreError when the name is not a plain name,
  // no folder has it, or the file is not a shared library that can be loaded.
  Opened open(const std::string& name);
  // The names of every lib<NAME>.so on the search path, each once (the
  // first folder that has it wins, as for open), in name order.
  std::vector<std::string> available() const;

 private:
  std::vector<std::string> addedFolders;
  std::vector<std::string> defaultFolders;
};

}  // namespace vemora
