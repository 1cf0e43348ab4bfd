// A program directory for the server program, and korridan started in it
// as a process of its own, headless, with its operator commands on a pipe.
//
// Each test gets a fresh directory holding copies of korridan, the
// libraries it loads and the page engine (korridan reads its settings files
// beside its own executable), its own registry root and its own port. The
// test reads korridan's standard output line by line as it comes and may
// hold that reading back (the pipe then fills and korridan waits in the
// middle of what it is doing).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/security.h"
#include "foundation/securitystore.h"
#include "platform/dbtables.h"
#include "tests/support/client.h"
#include "tests/support/free_port.h"
#include "tests/support/program_dir.h"
#include "tests/support/execute_sql.h"
#include "tests/support/security_tables.h"
#include "tests/support/spawn.h"

namespace korridan_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using testsupport::Base64;
using testsupport::Client;
using testsupport::Exchange;
using testsupport::FreePort;
using testsupport::ReadFile;
using testsupport::Upper;
using testsupport::WriteFile;

class KorridanSite : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-korridan-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    prog_ = root_ + "/prog/";
    home_ = prog_ + "HTDocs/";
    cwd_ = prog_;
    port_ = FreePort();
    fs::create_directories(prog_);
    // The program and what it loads, as an installation holds them.
    fs::path bin = fs::path(KORRIDAN_PATH).parent_path();
    for (const char* f : {"korridan", "libhalvplatform.so.1", "libhalvui.so.1", "libtandrel.so", "MORVEX32.DLL"})
      fs::copy_file(bin / f, prog_ + f, fs::copy_options::overwrite_existing);
    for (const char* d : {"HTDocs/private", "Data", "Logs", "Temp"}) fs::create_directories(prog_ + d);
    WriteFile(home_ + "index.html", "<html><body>index</body></html>\n");
    WriteFile(home_ + "private/index.html", "<html><body>private</body></html>\n");
    WriteFile(prog_ + "MIME.INI", "[MimeTypes]\r\nhtml=text/html\r\ntxt=text/plain\r\n");
    CreateSecurityTables(prog_ + "Data");
    Sql("GROUPS", "INSERT INTO GROUPS VALUES ('STAFF', 'Staff');");
    Sql("USERS", testsupport::UserInsert("ann", "secret", "Staff"));
    Rule(home_, "N", "");
    Rule(home_ + "private/", "Y", "Staff");

    ini_["General"]["SplashScreen"] = "0";
    ini_["Network"] = {{"Address", "127.0.0.1"}, {"Port", std::to_string(port_)}, {"MaxSockets", "4"},
                       {"Backlog", "16"}};
    ini_["Directories"] = {{"HomeDir", home_}, {"TempDir", prog_ + "Temp/"}, {"LogsDir", prog_ + "Logs/"}};
    ini_["Log"] = {{"DoAccess", "1"}, {"Local", "1"}};
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Reap();
    }
    if (!HasFailure()) {
      std::error_code ec;
      fs::remove_all(root_, ec);
    } else {
      std::fprintf(stderr, "program directory kept in %s\nstandard error:\n%s\n", prog_.c_str(), Stderr().c_str());
      std::vector<std::string> lines = Lines();
      std::fprintf(stderr, "standard output, the last lines:\n");
      for (size_t i = lines.size() > 80 ? lines.size() - 80 : 0; i < lines.size(); ++i)
        std::fprintf(stderr, "%s\n", lines[i].c_str());
    }
  }

  void Sql(const std::string& table, const std::string& sql) {
    testsupport::ExecuteSql(prog_ + "Data/" + table + ".db", sql, false);
  }
  void Rule(const std::string& dir, const std::string& enforce, const std::string& groups) {
    Sql("ACCESS", testsupport::RuleInsert(dir, enforce, groups, "I"));
  }

  void WriteIni() {
    std::string text;
    for (const auto& [section, keys] : ini_) {
      text += "[" + section + "]\r\n";
      for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
    }
    WriteFile(prog_ + "KORRIDAN.INI", text);
  }

  // Starts korridan headless with commands on standard input (unless
  // with_commands_ is cleared: then with no operator at all; with window_
  // set: with its windows on the display, instead). pipe_size: the
  // capacity of its standard-output pipe (0: the system's default).
  void Start(int pipe_size = 0) {
    WriteIni();
    fs::create_directories(cwd_);
    {
      std::lock_guard lock(mu_);
      lines_.clear();
      output_closed_ = false;
    }
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    if (pipe_size > 0) ::fcntl(out[1], F_SETPIPE_SZ, pipe_size);
    int err = ::open((root_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    testsupport::Spawn spawn{prog_ + "korridan", cwd_, root_ + "/registry"};
    spawn.args = window_ ? std::vector<std::string>{} : with_commands_ ? spawn.args : std::vector<std::string>{"--headless"};
    spawn.clock = clock_;
    spawn.display = window_;
    pid_ = testsupport::SpawnProgram(spawn, in[0], out[1], err, {in[1], out[0]});
    ASSERT_GT(pid_, 0);
    for (int fd : {in[0], out[1], err}) ::close(fd);
    stdin_ = in[1];
    stdout_ = out[0];
    reader_ = std::thread([this] { ReadOutput(); });
  }

  // The line index of the first line from `from` on for which match holds;
  // -1 when none came within the time.
  int WaitFor(const std::function<bool(const std::string&)>& match, size_t from = 0,
              std::chrono::milliseconds wait = 30s) {
    std::unique_lock lock(mu_);
    int found = -1;
    cv_.wait_for(lock, wait, [&] {
      for (size_t i = from; i < lines_.size(); ++i)
        if (match(lines_[i])) {
          found = static_cast<int>(i);
          return true;
        }
      return output_closed_;
    });
    if (found < 0)
      for (size_t i = from; i < lines_.size(); ++i)
        if (match(lines_[i])) found = static_cast<int>(i);
    return found;
  }
  int WaitForLine(const std::string& line, size_t from = 0, std::chrono::milliseconds wait = 30s) {
    return WaitFor([&](const std::string& l) { return l == line; }, from, wait);
  }
  // Waits for a line that ends in text (log lines begin with their slot,
  // address and time).
  int WaitForEnding(const std::string& text, size_t from = 0, std::chrono::milliseconds wait = 30s) {
    return WaitFor([&](const std::string& l) { return l.size() >= text.size() && l.ends_with(text); }, from, wait);
  }
  // Waits until a start has finished: the caption of a fresh start, then
  // the menu item turned "Stop". The index of the latter.
  int WaitRunning(size_t from = 0) {
    int caption = WaitForLine("@ caption Halvorine (0)", from);
    return caption < 0 ? -1 : WaitForLine("@ menu ServerStatusMenu Stop", static_cast<size_t>(caption));
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(mu_);
    return lines_;
  }
  size_t LineCount() {
    std::lock_guard lock(mu_);
    return lines_.size();
  }
  int Count(const std::function<bool(const std::string&)>& match) {
    int n = 0;
    for (const std::string& l : Lines()) n += match(l) ? 1 : 0;
    return n;
  }

  // The end of korridan's standard input.
  void CloseInput() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  void Command(const std::string& line) {
    std::string text = line + "\n";
    ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  enum class StopChoice { Finish, Abort, No };
  // Opens the Stop Server dialog from the main menu and answers it: Finish
  // lets the active connections end, Abort (preselected) closes them, No
  // keeps the server running. The line at which the dialog closed, or -1.
  int AnswerStopDialog(StopChoice choice, size_t from) {
    Command("menu ServerStatusMenu");
    if (WaitForLine("@ modal StopServerForm", from) < 0) return -1;
    if (choice == StopChoice::Finish) Command("click StopServerForm.RadioButton1");
    Command(choice == StopChoice::No ? "click StopServerForm.NoButton" : "click StopServerForm.YesButton");
    return WaitForLine("@ modal-end StopServerForm", from);
  }
  // Only while korridan runs: kill(-1) would reach every process of the user.
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  void HoldOutput(bool hold) { hold_output_ = hold; }

  // Waits for korridan to end; its exit code, or -1 when it did not end in
  // time or ended by a signal.
  int WaitExit(std::chrono::seconds wait = 60s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        FinishReader();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  std::string Stderr() { return ReadFile(root_ + "/stderr.txt"); }
  // Waits until standard error holds text.
  bool WaitStderr(const std::string& text, std::chrono::seconds wait = 30s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (Stderr().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::string Get(const std::string& path, const std::string& auth = "", const char* from = nullptr) {
    std::string request = "GET " + path + " HTTP/1.0\r\n";
    if (!auth.empty()) request += "Authorization: Basic " + Base64(auth) + "\r\n";
    return Exchange(port_, request + "\r\n", from);
  }

  // Moves korridan's frozen clock (clock_) on and ticks its timers; the
  // index of the answer line, -1 when none came.
  int Advance(int seconds) {
    size_t from = LineCount();
    Command("advance " + std::to_string(seconds));
    return WaitFor([](const std::string& l) { return l.starts_with("@ advanced "); }, from);
  }

  // The dated files the log cycle made in the logs directory.
  std::vector<std::string> DatedLogs(const std::string& prefix = "Access-") {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(prog_ + "Logs"))
      if (e.path().filename().string().starts_with(prefix)) names.push_back(e.path().string());
    return names;
  }
  bool WaitDatedLogs(size_t count, std::chrono::seconds wait = 30s) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (DatedLogs().size() >= count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::map<std::string, std::map<std::string, std::string>> ini_;
  std::string root_, prog_, home_, cwd_;
  // When set, korridan's date-time clock stands still at it
  // ("YYYY-MM-DD hh:mm:ss") until the test moves it with Advance.
  std::string clock_;
  bool with_commands_ = true;
  int port_ = 0;
  pid_t pid_ = -1;
  bool window_ = false;

 private:
  void ReadOutput() {
    std::string partial;
    for (;;) {
      if (hold_output_) {
        std::this_thread::sleep_for(5ms);
        continue;
      }
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, 50) == 0) continue;
      char buf[4096];
      ssize_t n = ::read(stdout_, buf, sizeof buf);
      if (n <= 0) break;
      partial.append(buf, static_cast<size_t>(n));
      std::lock_guard lock(mu_);
      size_t eol;
      while ((eol = partial.find('\n')) != std::string::npos) {
        lines_.push_back(partial.substr(0, eol));
        partial.erase(0, eol + 1);
      }
      cv_.notify_all();
    }
    std::lock_guard lock(mu_);
    output_closed_ = true;
    cv_.notify_all();
  }

  void FinishReader() {
    hold_output_ = false;
    if (reader_.joinable()) reader_.join();
    if (stdin_ >= 0) ::close(stdin_);
    if (stdout_ >= 0) ::close(stdout_);
    stdin_ = stdout_ = -1;
  }

  void Reap() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    FinishReader();
  }

  int stdin_ = -1;
  int stdout_ = -1;
  std::thread reader_;
  std::atomic<bool> hold_output_{false};
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
  bool output_closed_ = false;
};

}  // namespace korridan_test
