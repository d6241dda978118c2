#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string kOctify = VEMORA_UTILS_DIR "/octify";
const std::string kHertzify = VEMORA_UTILS_DIR "/hertzify";

struct ToolRun {
  std::string out;
  std::string err;
  int status = -1;
};

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, got);
  close(fd);
  return text;
}

// Runs the program directly (no shell), so arguments arrive exactly as given.
ToolRun runTool(const std::string& program, const std::vector<std::string>& args) {
  ToolRun run;
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);

  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  // The tools write a few lines at most, well within a pipe's buffer, so
  // reading one pipe to the end before the other cannot stall the child.
  run.out = drain(outPipe[0]);
  run.err = drain(errPipe[0]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void expectOutput(const std::string& program, const std::vector<std::string>& args, const std::string& expected) {
  const ToolRun run = runTool(program, args);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST(LookupTools, NoArgumentPrintsUsageAndSucceeds) {
  {
    SCOPED_TRACE("octify");
    expectOutput(kOctify, {}, "you must specify pitch in hz\n");
  }
  {
    SCOPED_TRACE("hertzify");
    expectOutput(kHertzify, {}, "you must specify pitch in 8ve.pc form\n");
  }
}

TEST(LookupTools, OctifyConvertsHzToPch) {
  const struct {
    const char* arg;
    const char* line;
  } cases[] = {
      {"440", "440.000000 = 8.090000\n"},
      {"261.6255653005986", "261.625565 = 8.000000\n"},
      {"1000", "1000.000000 = 9.112131\n"},
      {"0", "0.000000 = -inf\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    expectOutput(kOctify, {c.arg}, c.line);
  }
}

TEST(LookupTools, HertzifyConvertsPchToHz) {
  const struct {
    const char* arg;
    const char* line;
  } cases[] = {
      {"8.00", "8.000000 = 261.625565\n"},
      {"8.09", "8.090000 = 440.000000\n"},
      {"7.11", "7.110000 = 246.941651\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    expectOutput(kHertzify, {c.arg}, c.line);
  }
}

// Text is read by its numeric prefix, 0.0 when it has none; "--help" is no
// option, just another value.
TEST(LookupTools, NonNumericTextIsConvertedAsItsPrefix) {
  const struct {
    const char* arg;
    const char* line;
  } cases[] = {
      {"pitch", "0.000000 = 1.021975\n"},     {"--help", "0.000000 = 1.021975\n"},   {"", "0.000000 = 1.021975\n"},
      {"8.09xyz", "8.090000 = 440.000000\n"}, {"  8.00", "8.000000 = 261.625565\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arg));
    expectOutput(kHertzify, {c.arg}, c.line);
  }
}

TEST(LookupTools, SeveralArgumentsPrintOneLineEachInOrder) {
  {
    SCOPED_TRACE("hertzify");
    expectOutput(kHertzify, {"8.09", "note", "7.11", "8.00"},
                 "8.090000 = 440.000000\n"
                 "0.000000 = 1.021975\n"
                 "7.110000 = 246.941651\n"
                 "8.000000 = 261.625565\n");
  }
  {
    SCOPED_TRACE("octify");
    expectOutput(kOctify, {"1000", "440", "1000"},
                 "1000.000000 = 9.112131\n"
                 "440.000000 = 8.090000\n"
                 "1000.000000 = 9.112131\n");
  }
}

}  // namespace
