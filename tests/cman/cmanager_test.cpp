// The manager program end to end: copied into a program directory of its
// own with QX.DLL, a copy of the sample BBS and the security tables, started
// headless with the administrator's actions on standard input.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/cman/cman_fixture.h"
#include "tests/support/spawn.h"
#include "tools/cmanfrm.h"

namespace {

namespace fs = std::filesystem;
using bbstest::ReadBytes;

constexpr bool kLib = kFileLibraryBuild;

struct Outcome {
  int status = -1;
  std::string out, err;
};

class ManagerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    prog = bbs.dir / "prog/";
    fs::create_directories(prog);
    fs::path exe = MANAGER_PATH;
    fs::copy_file(exe, prog + exe.filename().string());
    for (const char* lib : {"libhalvplatform.so.1", "libhalvui.so.1"})
      fs::copy_file(exe.parent_path() / lib, prog + lib);
    fs::copy_file(QX_PATH, prog + "QX.DLL");
    cmantest::MakeTables(prog + "Data");
    Ini("[QXBBS]\r\nCONFIG.QX2=" + bbs.home + "\r\n");
  }
  void Ini(const std::string& text) { bbstest::WriteBytes(prog + "KORRIDAN.INI", {text.begin(), text.end()}); }

  // Runs the program with the commands on its standard input.
  Outcome Run(const std::string& commands) {
    int in[2], out[2], err[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    std::string exe = prog + fs::path(MANAGER_PATH).filename().string();
    std::string registry = bbs.dir / "registry";
    pid_t pid = testsupport::SpawnProgram({exe, bbs.dir.path(), registry}, in[0], out[1], err[1],
                                          {in[1], out[0], err[0]});
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    (void)!::write(in[1], commands.data(), commands.size());
    ::close(in[1]);
    Outcome o;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
      if (::poll(fds, 2, 1000) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buf[4096];
        ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n <= 0) {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        } else {
          (i == 0 ? o.out : o.err).append(buf, static_cast<size_t>(n));
        }
      }
    }
    if (open > 0) ::kill(pid, SIGKILL);
    for (pollfd& p : fds)
      if (p.fd >= 0) ::close(p.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
  }
  std::string ListFile() const { return kLib ? bbs.Directories() : bbs.Subboards(); }

  bbstest::SampleBbs bbs;
  std::string prog;
};

TEST_F(ManagerProgram, AnAdministratorEditsAnEntryAndNothingElseChanges) {
  auto before = ReadBytes(ListFile());
  std::string commands = "choose Main.ConfList 1\ntype Main.ConfDesc Changed by the administrator\n";
  commands += kLib ? "type Main.PathToFiles /srv/bbs/Manuals\nclick Main.CopyBox\n"
                   : "type Main.MaxMsgs 250\nclick Main.AllowAnon\n";
  // Short names put the changed entry first; its field is read back from the BBS.
  commands += "choose Main.ConfList 0\nmenu ShortNames\n";
  commands += kLib ? "show Main.PathToFiles\n" : "show Main.MaxMsgs\n";
  commands += "menu Exit1\n";
  Outcome o = Run(commands);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_NE(o.out.find(kLib ? "@ caption File Library Manager\n" : "@ title Conference Manager\n"),
            std::string::npos)
      << o.out;
  EXPECT_EQ(o.out.find(kLib ? "&Conference" : "&Library"), std::string::npos);
  EXPECT_NE(o.out.find(kLib ? "@ edit Main.PathToFiles /srv/bbs/Manuals/\n" : "@ edit Main.MaxMsgs 250\n"),
            std::string::npos)
      << o.out;
  auto after = ReadBytes(ListFile());
  EXPECT_EQ(cmantest::ForeignChanges(before, after, kLib), std::vector<size_t>{});

  const size_t entry = kLib ? bbstest::kDirectoryEntry : bbstest::kSubboardEntry;
  const uint8_t* record = after.data() + entry + 160;
  EXPECT_EQ(FieldText(record + (kLib ? 17 : 6), 41), "Changed by the administrator");
  if (kLib) {
    EXPECT_EQ(FieldText(record + 85, 46), "/srv/bbs/Manuals/");
    EXPECT_EQ(record[147], 1);
  } else {
    EXPECT_EQ(record[73] | record[74] << 8, 250);
    EXPECT_EQ(record[79], 0);  // was on in the sample
  }
}

TEST_F(ManagerProgram, FindThroughTheCommands) {
  Outcome o = Run(std::string("menu FindMenu\nfind Main.Find ") + (kLib ? "cd-rom" : "help") +
                  "\nfind Main.Find nowhere\nmenu Exit1\n");
  EXPECT_EQ(o.status, 0);
  // The second search finds nothing and closes the dialog.
  EXPECT_EQ(o.err, "message box [information] Information: Search string 'nowhere' not found. -> OK\n");
}

// A command that fails ends the program with status 1, and nothing the
// commands changed before it is saved: neither the entry's fields nor its
// rule nor the preferences (the window's own saving at its end is skipped).
TEST_F(ManagerProgram, AFailedCommandEndsTheProgramAndWhatTheCommandsChangedStaysUnsaved) {
  const std::string program = kLib ? "libmanager" : "confmanager";
  const std::string edits =
      "choose Main.ConfList 1\ntype Main.ConfDesc Changed\nchoose Main.Notebook Security\n"
      "choose Main.NotGroupsList Staff\nclick Main.AddAccessGroup\n";
  const std::string not_now = "not possible now (hidden, disabled or behind a dialog)";
  struct Case {
    std::string commands, error;
  } cases[] = {
      // No find dialog is open to type into.
      {edits + "find Main.Find again\nmenu SaveAll\nmenu Exit1\n",
       "line 6: " + not_now + ": find Main.Find again"},
      {edits + "choose Main.ConfList NOSUCH\nmenu SaveAll\nmenu Exit1\n",
       "line 6: no such item: choose Main.ConfList NOSUCH"},
      // The main menu while a dialog waits.
      {edits + "menu NewConf\nmenu SaveAll\nmenu Exit1\n", "line 7: " + not_now + ": menu SaveAll"},
      // The input ends while a dialog waits for its answer.
      {edits + "menu NewConf\ntype NewConfFrm.NewConfName FRESH\n",
       "line 7: the commands ended while NewConfFrm waits for an answer: type NewConfFrm.NewConfName FRESH"},
      {edits + "menu PrefMenu\ntype PrefForm.ConfigFile /elsewhere\n",
       "line 7: the commands ended while PrefForm waits for an answer: type PrefForm.ConfigFile /elsewhere"},
  };
  auto list = ReadBytes(ListFile());
  auto ini = ReadBytes(prog + "KORRIDAN.INI");
  for (const Case& c : cases) {
    Outcome o = Run(c.commands);
    EXPECT_EQ(o.status, 1) << c.commands;
    EXPECT_EQ(o.err, program + ": " + c.error + "\n");
    EXPECT_EQ(ReadBytes(ListFile()), list) << c.commands;
    EXPECT_EQ(cmantest::RulesIn(prog + "Data/ACCESS.db"), std::vector<std::string>{}) << c.commands;
    EXPECT_EQ(ReadBytes(prog + "KORRIDAN.INI"), ini) << c.commands;
  }
}

// Headless nobody can answer the prompt again and again: it is answered
// once, as Cancel, and the program ends with status 1 and says why.
TEST_F(ManagerProgram, WithoutABbsPathThePromptIsShownOnceAndTheProgramEndsWithItsReason) {
  const std::string program = kLib ? "libmanager" : "confmanager";
  const std::string prompt =
      "message box [error] Error: You must enter the path to a working QXBBS directory. -> Cancel\n";
  auto before = ReadBytes(ListFile());
  struct Case {
    std::string ini, reason;
  } cases[] = {
      {"[QXBBS]\r\n", "no BBS home directory is set ([QXBBS] CONFIG.QX2 in KORRIDAN.INI)"},
      {"[QXBBS]\r\nCONFIG.QX2=" + bbs.dir.path() + "\r\n",
       "\"" + bbs.dir.path() + "\" is not a working QXBBS directory ([QXBBS] CONFIG.QX2 in KORRIDAN.INI)"},
  };
  for (const Case& c : cases) {
    Ini(c.ini);
    Outcome o = Run("menu SaveAll\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, prompt + program + ": ended without a BBS to work on: " + c.reason + "\n");
  }
  fs::remove(prog + "QX.DLL");
  Ini("[QXBBS]\r\nCONFIG.QX2=" + bbs.home + "\r\n");
  Outcome o = Run("");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find(prompt + program + ": ended without a BBS to work on: QX.DLL could not be loaded"),
            std::string::npos)
      << o.err;
  EXPECT_EQ(ReadBytes(ListFile()), before);
}

}  // namespace

namespace {

TEST_F(ManagerProgram, RulesNewDeleteAndRepairThroughTheCommands) {
  const std::string module = kLib ? "WEBFILE" : "WEBMSG";
  const std::string third = kLib ? "GAMES" : "TECHNICAL";
  const std::string word = kLib ? "Library" : "Conference";
  bbstest::WriteBytes(bbs.home + "/" + third + ".BSY", {});
  Outcome o = Run(
      "choose Main.Notebook Security\n"
      "choose Main.NotGroupsList Staff\n"
      "click Main.AddAccessGroup\n"
      "choose Main.ActionGroup Write\n"
      "menu NewConf\n"
      "type NewConfFrm.NewConfName fresh\n"
      "click NewConfFrm.OKButton\n"
      "choose Main.ConfList 3\n"
      "menu DelConf\n"
      "menu RepConf\n"
      "menu SaveAll\n"
      "menu Exit1\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("@ modal NewConfFrm\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.err, "message box [information] Information: Delete " + word + " FRESH? -> Yes\n" +
                       "message box [error] Error: " + word + " is busy. -> OK\n");
  const std::string first = kLib ? "UPLOADS" : "GENERAL";
  EXPECT_EQ(cmantest::RulesIn(prog + "Data/ACCESS.db"),
            (std::vector<std::string>{module + " ADMINISTRATOR  Y  ", module + " " + first + " READ Y Staff| "}));
  EXPECT_EQ(ReadBytes(ListFile()).size(), 3 * (kLib ? bbstest::kDirectoryEntry : bbstest::kSubboardEntry));
}

}  // namespace
