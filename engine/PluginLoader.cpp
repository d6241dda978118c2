#include "PluginLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Engine.h"

namespace fs = std::filesystem;

namespace vemora {
namespace {

std::vector<std::string> splitPath(const char* text) {
  std::vector<std::string> folders;
  if (!text) return folders;
  std::stringstream in(text);
  std::string folder;
  while (std::getline(in, folder, ':'))
    if (!folder.empty()) folders.push_back(folder);
  return folders;
}

// The installed plug-in folder lies beside the program's own folder.
std::string installedFolder() {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (exe.parent_path().parent_path() / VEMORA_PLUGIN_INSTALL_SUBDIR).string();
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." &&
         name.find("..") == std::string::npos;
}

}  // namespace

PluginLoader::PluginLoader() {
  defaultFolders = splitPath(std::getenv("VEMORA_PLUGIN_PATH"));
  std::string installed = installedFolder();
  if (!installed.empty()) defaultFolders.push_back(installed);
  defaultFolders.push_back(VEMORA_PLUGIN_BUILD_DIR);
}

void PluginLoader::addFolder(const std::string& folder) { addedFolders.push_back(folder); }

std::vector<std::string> PluginLoader::searchPath() const {
  std::vector<std::string> all = addedFolders;
  all.insert(all.end(), defaultFolders.begin(), defaultFolders.end());
  return all;
}

void* PluginLoader::open(const std::string& name) {
  if (!isPlainName(name))
    throw ScoreError("load: \"" + name + "\" is not a plug-in name (give the name alone, without a path)");
  std::string searched;
  for (const std::string& folder : searchPath()) {
    fs::path file = fs::path(folder) / ("lib" + name + ".so");
    searched += (searched.empty() ? "" : ":") + folder;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) continue;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw ScoreError("load: cannot open " + file.string() + ": " + dlerror());
    return handle;
  }
  throw ScoreError("load: no plug-in named " + name + " (searched: " + searched + ")");
}

}  // namespace vemora
