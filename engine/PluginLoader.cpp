#include "PluginLoader.h"

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
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

bool readAt(std::ifstream& in, uint64_t offset, void* to, uint64_t bytes) {
  in.clear();
  in.seekg(std::streamoff(offset));
  return in.read(static_cast<char*>(to), std::streamsize(bytes)) && uint64_t(in.gcount()) == bytes;
}

// The interface mark read from the file's dynamic symbols without loading
// it: a plug-in built for another interface may need names this engine does
// not have, and then cannot be opened to be asked. A file that is not a
// 64-bit ELF library with the mark in its image gives nothing.
std::optional<int> markInFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  Elf64_Ehdr header;
  if (!readAt(in, 0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr))
    return std::nullopt;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (sections.empty() || !readAt(in, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr)))
    return std::nullopt;
  constexpr uint64_t kMostBytes = uint64_t(1) << 26;  // far more than any plug-in's symbols
  for (const Elf64_Shdr& symbolTable : sections) {
    if (symbolTable.sh_type != SHT_DYNSYM || symbolTable.sh_entsize != sizeof(Elf64_Sym) ||
        symbolTable.sh_link >= sections.size())
      continue;
    const Elf64_Shdr& nameTable = sections[symbolTable.sh_link];
    if (symbolTable.sh_size > kMostBytes || nameTable.sh_size > kMostBytes) return std::nullopt;
    std::vector<Elf64_Sym> symbols(symbolTable.sh_size / sizeof(Elf64_Sym));
    std::string names(nameTable.sh_size, '\0');
    if (!readAt(in, symbolTable.sh_offset, symbols.data(), symbols.size() * sizeof(Elf64_Sym)) ||
        !readAt(in, nameTable.sh_offset, names.data(), names.size()))
      return std::nullopt;
    for (const Elf64_Sym& symbol : symbols) {
      if (symbol.st_name >= names.size() || std::strcmp(names.c_str() + symbol.st_name, "vemora_plugin_interface") != 0)
        continue;
      if (symbol.st_size != sizeof(int) || symbol.st_shndx == SHN_UNDEF || symbol.st_shndx >= sections.size())
        return std::nullopt;
      const Elf64_Shdr& home = sections[symbol.st_shndx];
      const uint64_t within = symbol.st_value - home.sh_addr;
      if (home.sh_type == SHT_NOBITS || symbol.st_value < home.sh_addr || within > home.sh_size ||
          home.sh_size - within < sizeof(int))
        return std::nullopt;
      int mark = 0;
      if (!readAt(in, home.sh_offset + within, &mark, sizeof mark)) return std::nullopt;
      return mark;
    }
  }
  return std::nullopt;
}

std::string builtForAnother(const std::string& file, int built) {
  return "load: " + file + " was built for plug-in interface " + std::to_string(built) + ", this engine has " +
         std::to_string(VEMORA_PLUGIN_INTERFACE) + "; rebuild it against this Vemora";
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
  throw ScoreError(builtForAnother(file, built));
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
    if (!handle) {
      const std::string reason = loadFailure(file.string());
      const std::optional<int> mark = markInFile(file.string());
      if (mark && *mark != VEMORA_PLUGIN_INTERFACE) throw ScoreError(builtForAnother(file.string(), *mark));
      throw ScoreError("load: " + file.string() + " cannot be loaded as a plug-in: " + reason);
    }
    checkInterface(handle, file.string());
    return {handle, file.string()};
  }
  throw ScoreError("load: no plug-in named " + name + " (searched: " + searched + ")");
}

std::vector<std::string> PluginLoader::available() const {
  std::set<std::string> names;
  for (const std::string& folder : searchPath()) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      const std::string file = entry.path().filename().string();
      if (file.size() > 6 && file.starts_with("lib") && file.ends_with(".so"))
        names.insert(file.substr(3, file.size() - 6));
    }
  }
  return {names.begin(), names.end()};
}

}  // namespace vemora
