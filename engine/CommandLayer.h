// The commands that name files or settings or make tables, whichever front
// end they come through (a score's Lua calls, a client's socket records):
// rtinput, rtoutput, set_option, bus_config, load, gen and tab. Front ends
// turn their own values into these calls; this is the one place that
// resolves and confines paths, keeps what rtoutput named, keeps the output
// and the inputs apart, holds options to a front end's ceilings and checks
// the numbers a table is made from.
#pragma once

#include <cstddef>
#include <optional>
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

// A number a command is given, as its front end holds it. A score's Lua
// keeps whole numbers as 64-bit integers (a float that is one exactly
// becomes one); a socket record holds doubles, whole when they hold an int,
// the range a record's whole numbers have always had.
struct Number {
  double value = 0.0;
  std::optional<long long> whole;  // set when it is a whole number
  bool isNumber = true;            // false: the front end had no number there

  // A double: whole when it holds an int.
  static Number of(double value);
  static Number integer(long long value) { return {double(value), value, true}; }
  // Something that is no number (a text, nil), described by the front end.
  static Number none() { return {0.0, std::nullopt, false}; }
};

// An argument a command cannot take: which (counted from 0), its name and
// what it must be. The message is the command's own, for the arguments
// together; a front end that speaks of one argument at a time (the score
// reader) words it from these and the value it holds.
struct BadArgument : ScoreError {
  BadArgument(const std::string& message, size_t index, std::string name, std::string wanted)
      : ScoreError(message), index(index), name(std::move(name)), wanted(std::move(wanted)) {}
  size_t index;
  std::string name;
  std::string wanted;
};

// gen: table `slot`, made by routine `routine`, of `size` entries from
// `values`.
struct GenCommand {
  int slot = 0;
  int routine = 0;
  long long size = 0;
  std::vector<double> values;

  // The slot, the routine number and the size (whole numbers, the first
  // two in the range of int), then the values (numbers). Throws
  // BadArgument at the first argument that does not fit.
  // `reuse` lends its storage to the values (a score of many gen calls
  // then does not allocate for each).
  static GenCommand from(const std::vector<Number>& args, std::vector<double> reuse = {});
};

// tab: a table for a pfield, made by routine `routine`, of `size` entries
// from `values`.
struct TabCommand {
  int routine = 0;
  long long size = 0;
  std::vector<double> values;

  // As GenCommand::from, without the slot.
  static TabCommand from(const std::vector<Number>& args);
};

// What rtinput names to read the input device rather than a file.
inline constexpr const char* kInputDevice = "device";

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
  void gen(const GenCommand& command);
  TablePtr tab(const TabCommand& command);

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
