// Which processes and which nodes are the host's, on a process table of our
// own making, and the proc file system's table on a folder laid out as
// /proc is.
#include "audio/pipewire/host_application.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "audio/pipewire/host_sound.h"
#include "audio/pipewire/proc_fs_table.h"

namespace mivo::audio::pipewire {
namespace {

constexpr ProgramFile kInit{1, 1}, kShell{1, 2}, kBrowser{1, 3}, kPlayer{1, 4}, kTone{1, 5};

class FakeTable final : public ProcessTable {
 public:
  std::map<pid_t, ProcessEntry> entries;
  std::optional<pid_t> selfPid;
  std::optional<ProcessEntry> read(pid_t pid) const override {
    auto found = entries.find(pid);
    return found == entries.end() ? std::nullopt : std::optional(found->second);
  }
  std::optional<pid_t> self() const override { return selfPid; }
};

// A shell that started a browser and a foreign tone. The browser's zygote
// holds the process that loaded the library (220); the browser's audio
// service, a renderer and two players started by the host belong with it.
FakeTable desktop() {
  FakeTable table;
  auto add = [&](pid_t pid, pid_t parent, std::optional<ProgramFile> program, const char* name) {
    table.entries[pid] = ProcessEntry{parent, program, name};
  };
  add(1, 0, kInit, "init");
  add(100, 1, kShell, "bash");
  add(200, 100, kBrowser, "browser");
  add(210, 200, kBrowser, "browser");  // zygote
  add(220, 210, kBrowser, "browser");  // the host
  add(230, 210, kBrowser, "browser");  // renderer
  add(240, 200, kBrowser, "browser");  // audio service
  add(250, 220, kPlayer, "paplay");    // a ringtone
  add(255, 220, kShell, "sh");
  add(260, 255, kPlayer, "pw-play");
  add(270, 240, std::nullopt, "");   // a program that cannot be read
  add(300, 100, kTone, "tone");      // started from the same shell
  add(400, 1, kBrowser, "browser");  // the same program, another instance
  table.selfPid = 220;
  return table;
}

TEST(HostApplication, IsTheTreeBelowTheOldestAncestorRunningTheSameProgram) {
  const FakeTable table = desktop();
  const struct {
    pid_t member;
    pid_t pid;
    bool contained;
  } cases[] = {
      {220, 220, true},  {220, 200, true},  {220, 210, true},  {220, 230, true},  {220, 240, true},
      {220, 250, true},  {220, 260, true},  {220, 270, true},  {220, 100, false}, {220, 1, false},
      {220, 300, false}, {220, 400, false}, {220, 999, false},  // gone
      {250, 250, true},  {250, 220, false},                     // a player's application is itself
      {270, 270, true},  {270, 240, false},  // a member whose program cannot be read
      {999, 999, false},                     // a member that is gone
  };
  for (const auto& c : cases)
    EXPECT_EQ(HostApplication(table, c.member).contains(c.pid), c.contained)
        << c.member << " " << c.pid;
}

TEST(HostApplication, EndsItsWalkOnATableThatLoops) {
  FakeTable table;
  table.entries[5] = ProcessEntry{6, kShell, "a"};
  table.entries[6] = ProcessEntry{5, kShell, "a"};
  table.entries[7] = ProcessEntry{5, kTone, "b"};
  EXPECT_TRUE(HostApplication(table, 7).contains(7));
  EXPECT_FALSE(HostApplication(table, 7).contains(5));
}

NodeOwner native(pid_t pid, std::string appId = "") {
  NodeOwner owner;
  owner.pid = pid;
  owner.sandboxAppId = std::move(appId);
  return owner;
}

NodeOwner pulse(pid_t pid, std::string program, std::string appId = "") {
  NodeOwner owner = native(pid, std::move(appId));
  owner.throughPulseServer = true;
  owner.programName = std::move(program);
  return owner;
}

TEST(HostSound, IsEveryNodeOfTheHostsApplicationAndNoOther) {
  // The host is 220 in /proc; a host that numbers itself 1 is pid 1 of a
  // PID namespace below the one /proc shows.
  const FakeTable table = desktop();
  NodeOwner ownConnection;
  ownConnection.onOwnConnection = true;
  const struct {
    const char* what;
    pid_t host;     // as the host numbers itself
    NodeOwner own;  // what the server knows of the host's connection
    NodeOwner node;
    bool hosts;
  } cases[] = {
      {"a node on the library's own connection", 220, native(220), ownConnection, true},
      {"the audio service, native", 220, native(220), native(240), true},
      {"a child player, native", 220, native(220), native(260), true},
      {"the foreign tone from the same shell", 220, native(220), native(300), false},
      {"another instance of the program", 220, native(220), native(400), false},
      {"a process that is gone", 220, native(220), native(999), false},
      {"a node whose client is gone", 220, native(220), NodeOwner{}, false},
      {"the audio service through the pulse server", 220, native(220), pulse(240, "browser"), true},
      {"a child player through the pulse server", 220, native(220), pulse(250, "paplay"), true},
      {"a reported pid in the tree running another program", 220, native(220),
       pulse(250, "spotify"), false},
      {"a reported pid whose program cannot be read", 220, native(220), pulse(270, "browser"),
       false},
      {"a reported pid outside the tree", 220, native(220), pulse(300, "tone"), false},
      {"a sandboxed stranger reporting the host's pid", 220, native(220),
       pulse(220, "browser", "org.other.App"), false},
      {"a sandboxed native stranger", 220, native(220), native(240, "org.other.App"), false},
      {"another process of the host's sandboxed application", 220, native(220, "org.host.App"),
       native(4711, "org.host.App"), true},
      {"an unsandboxed process beside a sandboxed host", 220, native(220, "org.host.App"),
       pulse(220, "browser"), false},
      {"a host numbered 1 in its namespace: its own pulse stream", 1, native(220),
       pulse(1, "browser"), true},
      {"a host numbered 1: a stranger's pid 1 running another program", 1, native(220),
       pulse(1, "tone"), false},
      {"a host numbered 1: the server numbers as /proc does", 1, native(220), native(240), true},
      {"the server numbers unlike /proc: only the host's own pid is known", 220, native(7220),
       native(240), false},
      {"the server numbers unlike /proc: the host's own other connection", 220, native(7220),
       native(7220), true},
  };
  for (const auto& c : cases) {
    HostSound sound(table, c.host, c.host);
    EXPECT_EQ(sound.owns(c.node, c.own), std::optional(c.hosts)) << c.what;
  }
  EXPECT_EQ(HostSound(table, 220, 220).owns(std::nullopt, native(220)), std::nullopt);
}

// A command name may hold spaces and parentheses of its own.
TEST(ProcFsTable, ReadsParentAndProgramAsTheKernelWritesThem) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("mivo-proc-" + std::to_string(getpid()));
  fs::create_directories(root / "42");
  fs::create_directories(root / "43");
  std::ofstream(root / "42" / "stat") << "42 (a) b (c) S 7 42 42 0 -1 4194560 100\n";
  std::ofstream(root / "43" / "stat") << "43 (garbled\n";
  const fs::path program = root / "program";
  std::ofstream(program) << "";
  fs::create_symlink(program.string() + " (deleted)", root / "42" / "exe");
  fs::create_symlink("42", root / "self");
  fs::create_directories(root / "44");
  std::ofstream(root / "44" / "stat") << "44 (p) R 1 44 44\n";
  fs::create_symlink(program, root / "44" / "exe");

  ProcFsTable table(root.string());
  auto replaced = table.read(42);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->parent, 7);
  EXPECT_EQ(replaced->programName, "program");
  EXPECT_FALSE(replaced->program) << "the link leads to no file";
  auto running = table.read(44);
  ASSERT_TRUE(running);
  struct stat file {};
  ASSERT_EQ(::stat(program.c_str(), &file), 0);
  EXPECT_EQ(running->program, (ProgramFile{file.st_dev, file.st_ino}));
  EXPECT_FALSE(table.read(43));
  EXPECT_FALSE(table.read(45));
  EXPECT_EQ(table.self(), 42);
  EXPECT_EQ(ProcFsTable().self(), getpid());
  fs::remove_all(root);
}

}  // namespace
}  // namespace mivo::audio::pipewire
