// What the SDK promises plug-ins built outside the tree: every plug-in built
// with the SDK headers carries the interface it was built for, the engine
// refuses one built for another before running any of it, and a plug-in
// that declares the engine's calls itself, as the interface documents them,
// binds and plays.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Engine.h"
#include "support/ProgramRun.h"
#include "support/TestEngine.h"

using namespace vemora;
using vemora::testing::makeEngine;
using vemora::testing::makeTable;
namespace fs = std::filesystem;

namespace {

const fs::path kTestPlugins = VEMORA_TEST_PLUGIN_DIR;

// The mark of a plug-in file, read as the engine reads it; -1 without one.
int interfaceMark(const fs::path& file) {
  void* handle = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    ADD_FAILURE() << dlerror();
    return -1;
  }
  const auto* mark = static_cast<const int*>(dlsym(handle, "vemora_plugin_interface"));
  const int value = mark ? *mark : -1;
  dlclose(handle);
  return value;
}

std::string refusalOf(const fs::path& file, int built) {
  return "load: " + file.string() + " was built for plug-in interface " + std::to_string(built) + ", this engine has " +
         std::to_string(VEMORA_PLUGIN_INTERFACE) + "; rebuild it against this Vemora";
}

}  // namespace

TEST(PluginInterface, PluginsBuiltWithTheHeadersCarryTheEnginesInterface) {
  // A real-time instrument (Instrument.h) and a legacy one (legacy_note.h).
  EXPECT_EQ(interfaceMark(kTestPlugins / "libFRAMEPROBE.so"), VEMORA_PLUGIN_INTERFACE);
  EXPECT_EQ(interfaceMark(kTestPlugins / "liblegacyprobe.so"), VEMORA_PLUGIN_INTERFACE);
  EXPECT_EQ(interfaceMark(kTestPlugins / "libNEXTIFACE.so"), VEMORA_PLUGIN_INTERFACE + 1);
}

TEST(PluginInterface, APluginForAnotherInterfaceIsRefusedUnrun) {
  auto engine = makeEngine();
  const fs::path file = kTestPlugins / "libNEXTIFACE.so";
  for (int attempt = 0; attempt < 2; ++attempt) {  // a refusal is not remembered as a load
    try {
      engine->load("NEXTIFACE");
      ADD_FAILURE() << "NEXTIFACE was loaded";
    } catch (const ScoreError& error) {
      EXPECT_EQ(std::string(error.what()), refusalOf(file, VEMORA_PLUGIN_INTERFACE + 1));
    }
  }
  // Its rtprofile never ran.
  EXPECT_FALSE(engine->hasInstrument("NEXTIFACE"));
  // Plug-ins of this interface still load beside it.
  EXPECT_EQ(engine->load("FRAMEPROBE"), std::vector<std::string>{"FRAMEPROBE"});
}

TEST(PluginInterface, APluginNeedingNamesThisEngineLacksIsRefusedForItsInterface) {
  auto engine = makeEngine();
  const fs::path file = kTestPlugins / "libNEXTNAMES.so";
  // dlopen alone would say no more than that a name is missing.
  ASSERT_EQ(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL), nullptr);
  try {
    engine->load("NEXTNAMES");
    ADD_FAILURE() << "NEXTNAMES was loaded";
  } catch (const ScoreError& error) {
    EXPECT_EQ(std::string(error.what()), refusalOf(file, VEMORA_PLUGIN_INTERFACE + 1));
  }
}

TEST(PluginInterface, TheProgramNamesTheFileAndBothInterfaces) {
  const fs::path folder = fs::temp_directory_path() / ("vemora-sdk-" + std::to_string(getpid()));
  fs::create_directories(folder);
  programrun::writeFile(folder / "score.lua", "load(\"NEXTIFACE\")\nNEXTIFACE(0, 0.1)\n");
  programrun::Process::Options options;
  options.args = {std::string(VEMORA_BIN_DIR) + "/vemora", "--plugin-path", kTestPlugins.string(), "score.lua"};
  options.folder = folder;
  options.logs = folder / "run";
  const programrun::Outcome outcome = programrun::run(options, 60);
  programrun::expectNoCrashOrHang(outcome);
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(outcome.err,
            "vemora: score.lua:1: " + refusalOf(kTestPlugins / "libNEXTIFACE.so", VEMORA_PLUGIN_INTERFACE + 1) + "\n");
  EXPECT_FALSE(fs::exists(folder / "score.wav"));
  programrun::removeFolder(folder);
}

TEST(DocumentedDeclarations, APluginDeclaringTheCallsItselfBindsAndPlays) {
  auto engine = makeEngine();
  EXPECT_EQ(interfaceMark(kTestPlugins / "libDECLPROBE.so"), -1);  // it has no SDK header
  ASSERT_EQ(engine->load("DECLPROBE"), std::vector<std::string>{"DECLPROBE"});
  const std::vector<double> values = {0.5, -0.25, 0.125, 1.0, -1.0, 0.75};
  // Chunks of several sizes: rtaddout must add each frame where the note is.
  NoteCapture note = engine->playNoteAlone("DECLPROBE", {0.0, 10.0 / 44100.0, makeTable(values)}, {3, 4, 1});
  ASSERT_FALSE(note.refused);
  ASSERT_EQ(note.outChannels, 2);
  ASSERT_EQ(note.noteFrames, 10);
  ASSERT_EQ(note.frames.size(), 20u);
  for (int f = 0; f < 10; ++f) {
    const double entry = values[size_t(std::min(f, 5))];
    EXPECT_EQ(note.frames[size_t(2 * f)], float(entry)) << "frame " << f;
    EXPECT_EQ(note.frames[size_t(2 * f + 1)], float(entry) * 2.0f) << "frame " << f;
  }
  // getPFieldTable answers null for a pfield without a table.
  EXPECT_TRUE(engine->playNoteAlone("DECLPROBE", {0.0, 0.001, 0.5}, {16}).refused);
  EXPECT_EQ(vemora::testing::lastMessage(*engine), "p2 must be a table.");
}
