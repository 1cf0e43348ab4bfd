// The Security Manager as an operator uses it: started headless in a
// program directory of its own beside the server's, driven through its
// commands, and the running server answering by the rules it saved.
#include <gtest/gtest.h>

#include "tests/korridan/korridan_site.h"
#include "tests/support/spawn.h"

namespace korridan_test {
namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class SecManager : public KorridanSite {
 protected:
  void SetUp() override {
    KorridanSite::SetUp();
    fs::copy_file(SECMANAGER_PATH, prog_ + "secmanager", fs::copy_options::overwrite_existing);
    for (const char* d : {"team", "staff"}) WriteFile(home_ + d + "/index.html", std::string("<p>") + d + "</p>\n");
  }

  // Runs secmanager headless in the program directory with these commands
  // on its standard input, until it ends; its exit code (-1: it did not
  // end in time). Its standard output and error are kept.
  int RunSecmanager(const std::vector<std::string>& commands) {
    WriteIni();
    int in[2];
    if (::pipe(in) != 0) return -1;
    int out = ::open((root_ + "/sm-out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open((root_ + "/sm-err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = testsupport::SpawnProgram({prog_ + "secmanager", prog_, root_ + "/registry"}, in[0], out, err, {in[1]});
    for (int fd : {in[0], out, err}) ::close(fd);
    std::string text;
    for (const std::string& c : commands) text += c + "\n";
    bool written = ::write(in[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(in[1]);
    auto until = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return written && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  std::string SmOut() { return ReadFile(root_ + "/sm-out.txt"); }
  std::string SmErr() { return ReadFile(root_ + "/sm-err.txt"); }

  std::string Field(const std::string& dir, const std::string& field) {
    std::string value;
    platform::Table t;
    t.SetDatabaseName("HALVORINE");
    t.SetTableName("ACCESS");
    t.Open();
    if (t.FindKey({"SERVER", Upper(dir), "GET"})) {
      platform::BlobReader blob = t.OpenBlob(t.FieldIndex(field));
      value.resize(blob.Size());
      value.resize(blob.Read(value.data(), value.size()));
    }
    return value;
  }
};

TEST_F(SecManager, RulesSavedByTheOperatorAreWhatTheRunningServerApplies) {
  Start();
  ASSERT_GE(WaitRunning(), 0) << Stderr();
  EXPECT_TRUE(Get("/team/", "ann:secret").starts_with("HTTP/1.0 401")) << "a directory without a rule is closed";

  ASSERT_EQ(RunSecmanager({
                "dir Main.DirOutline " + home_ + "team",
                "choose Main.NotGroupsList Staff",
                "click Main.AddAccessGroup",
                // Moving on saves the rule of the directory left.
                "dir Main.DirOutline " + home_ + "staff",
                "choose Main.NotGroupsList Staff",
                "click Main.AddAccessGroup",
                "choose Main.AccessNotebook IP Address",
                "click Main.DenyIP",
                "click Main.AddIP",
                "type NewIPForm.IPAddrEdit 127.0.*.1",
                // Headless, the question takes its default: the dialog
                // opens again with the text.
                "click NewIPForm.OkButton",
                "type NewIPForm.IPAddrEdit 127.0.0.*",
                "click NewIPForm.OkButton",
                "menu SaveAll",
                "menu Exit1",
            }),
            0)
      << SmErr();
  EXPECT_TRUE(Has(SmOut(), "@ modal NewIPForm")) << SmOut();
  EXPECT_TRUE(Has(SmErr(), "The access check reads 127.0.*.1 as 127.0.*.*. Change it? -> Yes")) << SmErr();

  setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
  EXPECT_EQ(Field(home_ + "team/", "GROUPS"), "Staff\r");
  EXPECT_EQ(Field(home_ + "team/", "IPACTION"), "I");
  EXPECT_EQ(Field(home_ + "staff/", "GROUPS"), "Staff\r");
  EXPECT_EQ(Field(home_ + "staff/", "IPACTION"), "D");
  EXPECT_EQ(Field(home_ + "staff/", "IPADDR"), "127.0.0.*\r");
  EXPECT_EQ(Field(home_ + "staff/", "ENFORCE"), "Y");

  // The server that was running all along answers by the new rules.
  std::string team = Get("/team/", "ann:secret");
  EXPECT_TRUE(team.starts_with("HTTP/1.0 200")) << team;
  EXPECT_TRUE(Get("/team/").starts_with("HTTP/1.0 401"));
  std::string staff = Get("/staff/", "ann:secret");
  EXPECT_TRUE(staff.starts_with("HTTP/1.0 401")) << "127.0.0.1 is denied: " << staff;
  Signal(SIGTERM);
  EXPECT_EQ(WaitExit(), 0);
}

// A command that fails ends the program with status 1 before the commands
// after it, and the rule it was editing is not saved: a directory that
// does not exist does not leave the commands editing the one shown before.
TEST_F(SecManager, AFailedCommandEndsTheProgramAndTheRuleBeingEditedStaysUnsaved) {
  const std::string missing = home_ + "missing";
  struct Case {
    std::vector<std::string> commands;
    std::string error;
  } cases[] = {
      {{"dir Main.DirOutline " + missing, "choose Main.NotGroupsList Staff", "click Main.AddAccessGroup",
        "menu SaveAll", "menu Exit1"},
       "secmanager: line 1: no such directory: dir Main.DirOutline " + missing + "\n"},
      {{"dir Main.DirOutline " + home_ + "team", "choose Main.NotGroupsList Staff", "click Main.AddAccessGroup",
        "dir Main.DirOutline " + missing, "menu SaveAll", "menu Exit1"},
       "secmanager: line 4: no such directory: dir Main.DirOutline " + missing + "\n"},
      // The address opens the dialog again (the question's default): the
      // main menu behind it cannot be chosen.
      {{"dir Main.DirOutline " + home_ + "team", "choose Main.NotGroupsList Staff", "click Main.AddAccessGroup",
        "choose Main.AccessNotebook IP Address", "click Main.DenyIP", "click Main.AddIP",
        "type NewIPForm.IPAddrEdit 127.0.*.1", "click NewIPForm.OkButton", "menu SaveAll", "menu Exit1"},
       "message box [confirmation] Confirm: The access check reads 127.0.*.1 as 127.0.*.*. Change it? "
       "-> Yes\nsecmanager: line 9: not possible now (hidden, disabled or behind a dialog): menu SaveAll\n"},
      // The address dialog still open when the commands run out.
      {{"dir Main.DirOutline " + home_ + "team", "choose Main.NotGroupsList Staff", "click Main.AddAccessGroup",
        "choose Main.AccessNotebook IP Address", "click Main.DenyIP", "click Main.AddIP",
        "type NewIPForm.IPAddrEdit 10.1.2.3"},
       "secmanager: line 7: the commands ended while NewIPForm waits for an answer: type NewIPForm.IPAddrEdit "
       "10.1.2.3\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunSecmanager(c.commands), 1) << SmErr();
    EXPECT_EQ(SmErr(), c.error);
    setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
    EXPECT_EQ(Field(home_, "GROUPS"), "") << c.error;
    EXPECT_EQ(Field(home_ + "team/", "ENFORCE"), "") << "no rule saved for team: " << c.error;
  }
}

TEST_F(SecManager, TablesThatCannotBeOpenedAreReportedAndTheWindowStays) {
  // The data directory is registered by the first program that opens the
  // tables, so the cases run in this order: a refused directory registers
  // nothing.
  std::string too_long = root_ + "/" + std::string(250 - root_.size(), 'd');
  fs::rename(prog_ + "Data/ACCESS.db", prog_ + "ACCESS.db");
  struct Case {
    std::string data_dir, message;
  } cases[] = {
      {too_long, "The data directory is longer than 249 characters"},
      {prog_ + "Data/", "Table file not found: " + prog_ + "Data/ACCESS.db"},
  };
  for (const Case& c : cases) {
    ini_["Directories"]["DataDir"] = c.data_dir;
    ASSERT_EQ(RunSecmanager({"dir Main.DirOutline " + home_ + "team", "menu SaveAll", "menu Exit1"}), 0) << SmErr();
    EXPECT_TRUE(Has(SmErr(), "The security tables could not be opened: ")) << SmErr();
    EXPECT_TRUE(Has(SmErr(), c.message)) << SmErr();
  }
  // The registered directory is missing altogether.
  fs::rename(prog_ + "Data", prog_ + "Elsewhere");
  ASSERT_EQ(RunSecmanager({"menu Exit1"}), 0) << SmErr();
  EXPECT_TRUE(Has(SmErr(), "Directory not found: " + prog_ + "Data/")) << SmErr();
}

}  // namespace
}  // namespace korridan_test
