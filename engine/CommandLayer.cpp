#include "CommandLayer.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "SoundOutput.h"

namespace vemora {

namespace {

bool within(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/');
}

std::string realPath(const std::string& path, int* error) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) {
    *error = errno;
    return {};
  }
  std::string result = real;
  std::free(real);
  return result;
}

// The whole numbers a table command starts with, and how its messages
// name them together.
struct LeadingWholes {
  const char* command;
  std::vector<std::pair<const char*, bool>> names;  // each with whether it must fit an int
  const char* give;                                 // when arguments are missing
  const char* mustBeWhole;                          // when one is no whole number
};

constexpr const char* kWhole = "a whole number";
constexpr const char* kWholeInt = "a whole number in the range of int";

// Checks the leading whole numbers and the values after them, in order;
// the first argument that does not fit is named. A count too small is
// said as such, whichever argument is named. (A double is whole only in
// the range of int, so a socket record never reaches the range check.)
// The leading whole numbers, at most three (gen's slot, routine and size).
using Wholes = std::array<long long, 3>;

Wholes checkTableArguments(const LeadingWholes& leading, const std::vector<Number>& args, std::vector<double>* values) {
  const bool missing = args.size() < leading.names.size();
  Wholes wholes{};
  if (args.size() > leading.names.size()) values->reserve(args.size() - leading.names.size());
  for (size_t i = 0; i < leading.names.size(); ++i) {
    const auto& [name, fitsInt] = leading.names[i];
    if (i >= args.size() || !args[i].whole)
      throw BadArgument(std::string(leading.command) + ": " + (missing ? leading.give : leading.mustBeWhole), i, name,
                        kWhole);
    const long long whole = *args[i].whole;
    if (fitsInt && (whole < INT_MIN || whole > INT_MAX))
      throw BadArgument(std::string(leading.command) + ": the " + name + " must be " + kWholeInt, i, name, kWholeInt);
    wholes.at(i) = whole;
  }
  for (size_t i = leading.names.size(); i < args.size(); ++i) {
    if (!args[i].isNumber)
      throw BadArgument(std::string(leading.command) + ": the values must be numbers", i, "value", "a number");
    values->push_back(args[i].value);
  }
  return wholes;
}

}  // namespace

Number Number::of(double value) {
  Number number{value, std::nullopt, true};
  if (std::isfinite(value) && std::fabs(value) <= double(INT_MAX) && value == std::trunc(value))
    number.whole = static_cast<long long>(value);
  return number;
}

GenCommand GenCommand::from(const std::vector<Number>& args, std::vector<double> reuse) {
  static const LeadingWholes leading{"gen",
                                     {{"slot", true}, {"gen number", true}, {"size", false}},
                                     "give the slot, the routine number and the size",
                                     "the slot, routine number and size must be whole numbers"};
  GenCommand command;
  command.values = std::move(reuse);
  command.values.clear();
  const Wholes wholes = checkTableArguments(leading, args, &command.values);
  command.slot = int(wholes[0]);
  command.routine = int(wholes[1]);
  command.size = wholes[2];
  return command;
}

TabCommand TabCommand::from(const std::vector<Number>& args) {
  static const LeadingWholes leading{"tab",
                                     {{"gen number", true}, {"size", false}},
                                     "give the routine number and the size",
                                     "the routine number and size must be whole numbers"};
  TabCommand command;
  const Wholes wholes = checkTableArguments(leading, args, &command.values);
  command.routine = int(wholes[0]);
  command.size = wholes[1];
  return command;
}

std::string CommandLayer::resolve(const std::string& path) const {
  const std::filesystem::path given(path);
  if (given.is_absolute() || policy.folder.empty()) return path;
  return (std::filesystem::path(policy.folder) / given).string();
}

// The path a command names, resolved, once it is known to stay inside the
// folder. Whatever of the path exists is followed through its symbolic
// links (the file itself too, when it exists); what does not exist yet can
// hold no link, and ".." is refused outright, so the result cannot lead out
// of the folder.
std::string CommandLayer::confined(const std::string& command, const std::string& path) const {
  if (policy.confinedTo.empty()) return resolve(path);
  auto refuse = [&](const std::string& why) {
    throw CommandRefused(command + " \"" + path + "\" refused: " + why + "; a client may name only files inside " +
                         policy.confinedTo + ", by paths relative to it");
  };
  if (path.empty()) refuse("the path is empty");
  if (path[0] == '/') refuse("the path is absolute");
  for (const std::filesystem::path& part : std::filesystem::path(path))
    if (part == "..") refuse("the path has a \"..\" component");
  const std::string full = resolve(path);
  std::filesystem::path reached = std::filesystem::path(full).root_path();
  std::filesystem::path existing = reached;
  for (const std::filesystem::path& part : std::filesystem::path(full).relative_path()) {
    if (part.empty() || part == ".") continue;
    reached /= part;
    struct stat status {};
    if (::lstat(reached.c_str(), &status) != 0) break;
    existing = reached;
  }
  int error = 0;
  const std::string real = realPath(existing.string(), &error);
  if (real.empty()) refuse("its symbolic link cannot be followed (" + std::string(std::strerror(error)) + ")");
  if (!within(real, policy.confinedTo)) refuse("it leads to " + real + " through a symbolic link");
  return full;
}

void CommandLayer::rtinput(const std::string& path) {
  // The name "device" alone is the sound card's input, whatever the
  // folder holds; a file of that name is reached as "./device".
  if (path == kInputDevice) {
    engine.useInputDevice();
    return;
  }
  const std::string resolved = confined("rtinput", path);
  // While the output is open, the file it will replace when it is finished
  // may not be read: the render would be made from what it ends.
  if (!openOutput.empty()) {
    const auto input = identityOf(resolved);
    const auto output = identityOf(openOutput);
    if (input && output && input->sameFile(*output))
      throw ScoreError("rtinput: \"" + resolved + "\" is the same file as the session's output \"" + openOutput +
                       "\"; the session would replace what it reads");
  }
  engine.setInput(resolved);
}

void CommandLayer::rtoutput(const std::string& path, const std::string& sampleFormat) {
  if (outputIsOpen)
    throw ScoreError("rtoutput: the output is already open" + (openOutput.empty() ? "" : " (" + openOutput + ")"));
  const std::string resolved = confined("rtoutput", path);
  outputFormatFor(resolved, sampleFormat);
  output = resolved;
  outputSample = sampleFormat;
}

// set_option may not raise the rate or the channel count beyond the front
// end's ceilings (a stranger could otherwise make a session write hundreds
// of megabytes a minute). Texts that are no number are left to the engine
// to refuse.
void CommandLayer::checkOptionCeiling(const std::string& option) const {
  const size_t equals = option.find('=');
  if (equals == std::string::npos) return;
  const std::string key = option.substr(0, equals);
  const std::string value = option.substr(equals + 1);
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0') return;
  const bool tooLarge = errno == ERANGE && number > 0;
  if (key == "sr" && policy.maxSampleRate > 0 && (tooLarge || number > policy.maxSampleRate))
    throw CommandRefused("set_option \"" + option + "\" refused: a socket session's sampling rate is at most " +
                         std::to_string(policy.maxSampleRate) + " Hz (the server's --max-rate)");
  if (key == "channels" && policy.maxChannels > 0 && (tooLarge || number > policy.maxChannels))
    throw CommandRefused("set_option \"" + option + "\" refused: a socket session has at most " +
                         std::to_string(policy.maxChannels) + " channels (the server's --max-channels)");
}

void CommandLayer::setOption(const std::string& option) {
  checkOptionCeiling(option);
  engine.setOption(option);
}

void CommandLayer::busConfig(const std::string& instrument, const std::vector<std::string>& buses) {
  engine.busConfig(instrument, buses);
}

std::vector<std::string> CommandLayer::load(const std::string& name) { return engine.load(name); }

void CommandLayer::gen(const GenCommand& command) {
  engine.makeTable(command.slot, command.routine, command.size, command.values);
}

TablePtr CommandLayer::tab(const TabCommand& command) {
  return engine.makePFieldTable(command.routine, command.size, command.values);
}

}  // namespace vemora
