// The commands that name files or settings, whichever front end they come
// through (a score's Lua calls, a client's socket records): rtinput,
// rtoutput, set_option, bus_config and load. Front ends turn their own
// values into these calls; this is the one place that resolves and confines
// paths, keeps what rtoutput named, keeps the output and the inputs apart
// and holds options to a front end's ceilings.
#pragma once

#include <string>
#include <vector>

#include "Engine.h"

namespace vemora {

struct CommandPolicy {
  // Relative paths resolve against this folder; empty: as they are given.
  std::string folder;
  // When set (the folder, its links resolved), paths must be relative, have
  // no ".." component and lead, links followed, inside it.
  std::string confinedTo;
  // Ceilings on set_option's sr and channels (0: the engine's own range),
  // with the option of the front end's operator that moves them.
  int maxSampleRate = 0;
  int maxChannels = 0;
};

// A command refused for what it asks (a path outside the served folder, a
// rate above the ceiling), as against a command used wrongly.
struct CommandRefused : ScoreError {
  using ScoreError::ScoreError;
};

class CommandLayer {
 public:
  CommandLayer(Engine& engine, CommandPolicy policy) : engine(engine), policy(std::move(policy)) {}

  void setFolder(const std::string& folder) { policy.folder = folder; }
  void confineTo(const std::string& realFolder) { policy.confinedTo = realFolder; }

  void rtinput(const std::string& path);
  // Checks the name and the sample format now, so that a bad one is the
  // command's error rather than a surprise when the output opens.
  void rtoutput(const std::string& path, const std::string& sampleFormat);
  void setOption(const std::string& option);
  void busConfig(const std::string& instrument, const std::vector<std::string>& buses);
  // The instrument and function names the plug-in registered.
  std::vector<std::string> load(const std::string& name);

  // What rtoutput named (resolved) and its sample format; empty when none.
  const std::string& outputPath() const { return output; }
  const std::string& outputSampleFormat() const { return outputSample; }
  // The output is open from now on, as the file at path (empty: not a
  // file): a further rtoutput is refused, and so is an rtinput of the file
  // the output will replace.
  void outputOpened(const std::string& path) {
    outputIsOpen = true;
    openOutput = path;
  }

  // A path as the front end's folder gives it (not confined).
  std::string resolve(const std::string& path) const;

 private:
  std::string confined(const std::string& command, const std::string& path) const;
  void checkOptionCeiling(const std::string& option) const;

  Engine& engine;
  CommandPolicy policy;
  std::string output;
  std::string outputSample;
  std::string openOutput;
  bool outputIsOpen = false;
};

}  // namespace vemora
