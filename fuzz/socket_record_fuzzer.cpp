// The socket server's record path on arbitrary bytes, without a socket.
// Input: one byte that sets the size of the pieces the stream arrives in
// (0: all at once; n: n * 97 bytes), then the bytes of one connection:
// back-to-back 8296-byte records, the last one possibly cut short. Every
// record is checked and run as the server runs it; the stream goes to a sink
// that drops it, and a few blocks of it are rendered at the end so that the
// notes run. A crash, a leak, a sanitizer report or an exception leaving the
// server is a finding.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Engine.h"
#include "SocketServer.h"
#include "scorewire.h"

namespace {

constexpr int kBlocksRendered = 16;

class DroppingSink : public vemora::OutputSink {
 public:
  void write(const float*, int) override {}
};

bool nameIs(const sockdata& record, const char* name) {
  return std::memchr(record.name, '\0', sizeof record.name) && std::strcmp(record.name, name) == 0;
}

// Legacy note functions write their whole note when called, so their cost
// follows their numbers (times the rate and the channels) up to the engine's
// bound of gigabytes, and the granular ones start up to one grain per frame,
// each up to the note's length: the harness keeps those numbers small
// (flurry's within +-0.05, gravy's and twirl's within +-0.1, argprobe's
// within +-10) and makes options that raise the rate above 48000 or the
// channels above 8 unknown ones.
void keepCostsSmall(std::vector<uint8_t>& stream) {
  for (size_t at = 0; at + SCOREWIRE_RECORD_BYTES <= stream.size(); at += SCOREWIRE_RECORD_BYTES) {
    sockdata record;
    std::memcpy(&record, stream.data() + at, sizeof record);
    if (record.n_args < 0 || record.n_args > SCOREWIRE_MAX_NUMBERS) continue;
    bool changed = false;
    const double most = nameIs(record, "flurry")                             ? 0.05
                        : nameIs(record, "gravy") || nameIs(record, "twirl") ? 0.1
                        : nameIs(record, "argprobe")                         ? 10.0
                                                                             : 0.0;
    if (most > 0.0) {
      for (int i = 0; i < record.n_args; ++i) {
        const double x = record.data.p[i];
        record.data.p[i] = std::isnan(x) ? 0.0 : std::clamp(x, -most, most);
      }
      changed = true;
    } else if (nameIs(record, "set_option")) {
      for (int i = 0; i < std::min(record.n_args, SCOREWIRE_MAX_TEXTS); ++i) {
        char* text = record.data.text[i];
        if (!std::memchr(text, '\0', SCOREWIRE_TEXT_BYTES)) continue;  // refused as it is
        const bool tooMuch = (std::strncmp(text, "sr=", 3) == 0 && std::strtoll(text + 3, nullptr, 10) > 48000) ||
                             (std::strncmp(text, "channels=", 9) == 0 && std::strtoll(text + 9, nullptr, 10) > 8);
        if (tooMuch) {
          text[0] = '#';
          changed = true;
        }
      }
    }
    if (changed) std::memcpy(stream.data() + at, &record, sizeof record);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  vemora::EngineSettings settings;
  settings.sampleRate = 8000;
  settings.channels = 1;
  settings.blockFrames = 64;
  vemora::Engine engine(settings);
  engine.setEchoMessages(false);

  vemora::ServerSettings serverSettings;
  serverSettings.defaultOutput = "fuzz.wav";
  serverSettings.baseFolder = VEMORA_SOURCE_DIR "/examples";
  serverSettings.openOutput = [] { return std::make_unique<DroppingSink>(); };
  vemora::SocketServer server(engine, serverSettings);

  const size_t piece = data[0] == 0 ? size : size_t(data[0]) * 97;
  std::vector<uint8_t> stream(data + 1, data + size);
  keepCostsSmall(stream);
  for (size_t at = 0; at < stream.size(); at += piece)
    if (!server.receive(1, stream.data() + at, std::min(piece, stream.size() - at))) break;
  server.hangUp(1);

  for (int i = 0; i < kBlocksRendered && !engine.streamIdle(); ++i) engine.renderStreamBlock();
  return 0;
}
