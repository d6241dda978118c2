#include "PluginLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

// A name is one file-name component of printable characters: a path, a
// control character or an embedded NUL (which would cut the file name
// short) could reach a file other than lib<name>.so on the search path.
bool isPlainName(const std::string& name) {
  if (name.empty() || name == "." || name.find("..") != std::string::npos) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20; });
}

// The name as it can be shown in a message: control characters escaped.
std::string shown(const std::string& name) {
  std::string text;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

// dlerror starts with the file's name, which the message gives already.
std::string loadFailure(const std::string& file) {
  const char* error = dlerror();
  std::string reason = error ? error : "unknown reason";
  if (reason.compare(0, file.size() + 2, file + ": ") == 0) reason.erase(0, file.size() + 2);
  return reason;
}

// A plug-in built with the SDK headers carries the interface version it was
// built for. One built for another version is closed before any of its
// entries runs: its objects and calls need not match this engine's. A
// library without the mark (built from the documented declarations alone,
// or no plug-in at all) is left to the entry checks that follow.
void checkInterface(void* handle, const std::string& file) {
  const auto* mark = static_cast<const int*>(dlsym(handle, "vemora_plugin_interface"));
  if (!mark || *mark == VEMORA_PLUGIN_INTERFACE) return;
  const int built = *mark;
  dlclose(handle);
  throw ScoreError("load: " + file + " was built for plug-in interface " + std::to_string(built) +
                   ", this engine has " + std::to_string(VEMORA_PLUGIN_INTERFACE) +
                   "; rebuild it against this Vemora");
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

PluginLoader::Opened PluginLoader::open(const std::string& name) {
  if (!isPlainName(name))
    throw ScoreError("load: \"" + shown(name) + "\" is not a plug-in name (give the name alone, without a path)");
  std::string searched;
  for (const std::string& folder : searchPath()) {
    fs::path file = fs::path(folder) / ("lib" + name + ".so");
    searched += (searched.empty() ? "" : ":") + folder;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) continue;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
      throw ScoreError("load: " + file.string() + " cannot be loaded as a plug-in: " + loadFailure(file.string()));
    checkInterface(handle, file.string());
    return {handle, file.string()};
  }
  throw ScoreError("load: no plug-in named " + name + " (searched: " + searched + ")");
}

}  // namespace vemora
