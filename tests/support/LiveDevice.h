// A timed audio device without hardware, for the tests of live playback.
//
// A JACK server with its dummy back end (its own name, so that tests never
// share one) clocks the device; ALSA's default device reaches it through a
// configuration of the test's own (ALSA_CONFIG_PATH): a plug PCM (format
// conversion) over a file PCM (what was played goes to a raw FLOAT_LE file)
// over a jack PCM; capture, when it reads a known signal from a file, goes
// through a plug PCM and a file PCM of its own over the same jack PCM.
// The program under test finds that device as the system's default.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ProgramRun.h"

namespace livedevice {

namespace fs = std::filesystem;

constexpr const char* kJackd = "/usr/bin/jackd";
constexpr const char* kJackWait = "/usr/bin/jack_wait";

// What a test run of vemora needs in its environment besides the device,
// for the sanitizer build: no leak check. ALSA loads its PCM plug-ins (the
// jack PCM, and with it the JACK client library) with dlopen and unloads
// them at the end; what they keep until then is reported as leaked from
// "<unknown module>", which no suppression can name. The address and
// undefined-behaviour checks stay on, and every other test (the engine,
// the renderer, the ring through unit tests) keeps the leak check.
inline std::vector<std::string> sanitizerEnvironment() { return {"ASAN_OPTIONS=detect_leaks=0"}; }

// The server's name: one of a few, each held by one test at a time (a lock
// file, let go when the test's process ends however it ends), so that tests
// never share a server. A few names, not a new one each time: JACK keeps a
// server's name in a registry of eight until the server ends cleanly, and
// frees a name that a dead server left only when a server of that name
// starts again; new names each time would fill it after eight unclean ends.
class ServerName {
 public:
  ServerName() {
    programrun::waitFor(120, [&] {
      for (int i = 0; i < kNames; ++i) {
        const std::string lock = "/tmp/vemora-test-jack-" + std::to_string(i) + ".lock";
        const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
          held = fd;
          name = "vemora-test-" + std::to_string(i);
          return true;
        }
        close(fd);
      }
      programrun::sleepSeconds(0.1);
      return false;
    });
  }
  ~ServerName() {
    if (held >= 0) close(held);
  }
  ServerName(const ServerName&) = delete;
  ServerName& operator=(const ServerName&) = delete;

  std::string name;  // empty when none came free

 private:
  static constexpr int kNames = 4;
  int held = -1;
};

// Writes what capture will read (the file PCM's infile): interleaved frames
// of as many channels as the jack PCM captures (two), raw FLOAT_LE, the
// format the jack PCM below it works in, so that no conversion comes
// between the file and the program.
inline void writeCapture(const fs::path& path, const std::vector<float>& interleaved) {
  programrun::writeFile(
      path, std::string(reinterpret_cast<const char*>(interleaved.data()), interleaved.size() * sizeof(float)));
}

class Device {
 public:
  // period: the JACK server's period in frames. infile: raw FLOAT_LE frames
  // that capture reads (empty: none).
  explicit Device(const fs::path& folder, int period = 256, int rate = 44100, const std::string& infile = "")
      : folder(folder), name(lease.name) {
    playedPath = folder / "played.raw";
    configPath = folder / "asound-test.conf";
    std::string conf =
        "pcm.vemora_jack {\n"
        "  type jack\n"
        "  playback_ports { 0 system:playback_1 1 system:playback_2 }\n"
        "  capture_ports { 0 system:capture_1 1 system:capture_2 }\n"
        "}\n"
        "pcm.vemora_file {\n"
        "  type file\n"
        "  slave.pcm \"vemora_jack\"\n"
        "  file \"" +
        playedPath.string() +
        "\"\n"
        "  format \"raw\"\n"
        "}\n";
    // A file PCM writes what it captures to its file too: capture from a
    // known signal goes through a file PCM of its own, so that the file of
    // what was played holds only that.
    if (infile.empty()) {
      conf += "pcm.!default {\n  type plug\n  slave.pcm \"vemora_file\"\n}\n";
    } else {
      conf += "pcm.vemora_capture {\n  type file\n  slave.pcm \"vemora_jack\"\n  file \"" +
              (folder / "captured.raw").string() + "\"\n  infile \"" + infile +
              "\"\n  format \"raw\"\n}\n"
              "pcm.!default {\n  type asym\n  playback.pcm \"plug:vemora_file\"\n"
              "  capture.pcm \"plug:vemora_capture\"\n}\n";
    }
    programrun::writeFile(configPath, conf);
    if (name.empty()) {
      why = "no JACK server name came free in 2 minutes (other tests hold /tmp/vemora-test-jack-*.lock)";
      return;
    }
    programrun::Process::Options options;
    options.args = {kJackd, "-n", name, "-d", "dummy", "-r", std::to_string(rate), "-p", std::to_string(period)};
    options.folder = folder;
    options.logs = folder / "jackd";
    options.environment = {"JACK_NO_AUDIO_RESERVATION=1", "JACK_NO_START_SERVER=1"};
    server = std::make_unique<programrun::Process>(options);
    // jack_wait -w gives up at once while the server is still starting:
    // ask (-c) until it says the server runs.
    programrun::Process::Options check;
    check.args = {kJackWait, "-c", "-s", name};
    check.folder = folder;
    check.logs = folder / "jack_wait";
    check.environment = {"JACK_NO_START_SERVER=1"};
    std::string said;
    ready = programrun::waitFor(30,
                                [&] {
                                  if (server->exited()) return true;
                                  const programrun::Outcome checked = programrun::run(check, 10);
                                  said = checked.out + checked.err;
                                  if (checked.out.rfind("running", 0) == 0) return true;
                                  programrun::sleepSeconds(0.05);
                                  return false;
                                }) &&
            !server->exited();
    if (!ready) why = "jackd did not start: " + server->out() + server->err() + said;
  }

  ~Device() {
    if (server) {
      // A server that ends cleanly takes its name out of JACK's registry;
      // give it time on a busy machine before it is killed.
      server->signal(SIGTERM);
      server->wait(60);
    }
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  bool running() const { return ready; }
  const std::string& failure() const { return why; }
  const std::string& serverName() const { return name; }

  // NAME=VALUE for a program that should play through this device.
  std::vector<std::string> environment() const {
    std::vector<std::string> env = {"ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:" + configPath.string(),
                                    "JACK_DEFAULT_SERVER=" + name, "JACK_NO_START_SERVER=1"};
    for (const std::string& e : sanitizerEnvironment()) env.push_back(e);
    return env;
  }

  // Every sample that reached the device (interleaved FLOAT_LE).
  std::vector<float> played() const {
    const std::string bytes = programrun::readFile(playedPath);
    std::vector<float> samples(bytes.size() / sizeof(float));
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
  }

 private:
  ServerName lease;  // first: held until the server has ended
  fs::path folder, playedPath, configPath;
  std::string name;
  std::unique_ptr<programrun::Process> server;
  bool ready = false;
  std::string why;
};

}  // namespace livedevice
