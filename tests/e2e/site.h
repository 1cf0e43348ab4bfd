// A test site: a program directory with settings, pages and security
// tables, and the test server started on it as a process of its own.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

namespace e2e {

// The frozen clock of every test server, and how its access lines show it.
inline constexpr char kClock[] = "2026-12-09 10:00:00";
inline constexpr char kStamp[] = "[09/Dec/2026:10:00:00]";

inline constexpr char kServerLine[] = "Server: Halvorine/2.41\r\n";

using testsupport::Base64;
using testsupport::Client;
using testsupport::Exchange;
using testsupport::FreePort;
using testsupport::ReadFile;
using testsupport::Upper;
using testsupport::WriteFile;

inline std::string AuthLine(const std::string& user, const std::string& password) {
  return "Authorization: Basic " + Base64(user + ":" + password) + "\r\n";
}

inline std::string Ok(const std::string& type, const std::string& body) {
  return "HTTP/1.0 200 OK\r\n" + std::string(kServerLine) + "Content-type: " + type +
         "\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
inline std::string OkHeader(const std::string& type, std::size_t length) {
  return "HTTP/1.0 200 OK\r\n" + std::string(kServerLine) + "Content-type: " + type +
         "\r\nContent-length: " + std::to_string(length) + "\r\n\r\n";
}
inline std::string Error(int code, const std::string& reason) {
  std::string status = std::to_string(code) + " " + reason;
  std::string auth = code == 401 ? "WWW-Authenticate: Basic realm=\"Halvorine\"\r\n" : "";
  return "HTTP/1.0 " + status + "\r\n" + kServerLine + auth + "Content-type: text/html\r\n\r\n<h1>" + status +
         "</h1>\r\n";
}

class Site : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    prog_ = root_ + "/prog/";
    home_ = prog_ + "HTDocs/";
    port_ = FreePort();
    for (const char* d : {"HTDocs", "Temp", "Logs", "Data", "Images"}) std::filesystem::create_directories(prog_ + d);
    WriteFile(prog_ + "MIME.INI", "[MimeTypes]\r\nhtml=text/html\r\nhtm=text/html\r\ntxt=text/plain\r\n");
    ini_extra_.clear();
    CreateSecurityTables(prog_ + "Data");
    Sql("GROUPS", "INSERT INTO GROUPS VALUES ('STAFF', 'Staff');");
    AddUser("ann", "secret", "Staff");
    AddUser("bob", "hunter2", "");
  }

  void TearDown() override {
    Stop();
    if (!HasFailure()) {
      std::error_code ec;
      std::filesystem::remove_all(root_, ec);
    } else {
      std::fprintf(stderr, "site kept in %s\n", root_.c_str());
    }
  }

  void Sql(const std::string& table, const std::string& sql) {
    testsupport::ExecuteSql(prog_ + "Data/" + table + ".db", sql, false);
  }
  void AddUser(const std::string& login, const std::string& password, const std::string& groups) {
    Sql("USERS", testsupport::UserInsert(login, password, groups));
  }
  // A rule of module SERVER, action GET, for a directory (with its "/").
  void AddRule(const std::string& dir, const std::string& enforce, const std::string& groups = "",
               const std::string& ipaction = "I") {
    Sql("ACCESS", testsupport::RuleInsert(dir, enforce, groups, ipaction));
  }

  void WriteIni() {
    WriteFile(prog_ + "KORRIDAN.INI",
              "[Network]\r\nAddress=127.0.0.1\r\nPort=" + std::to_string(port_) +
                  "\r\nMaxSockets=" + std::to_string(max_sockets_) + "\r\nBacklog=16\r\n"
                  "[Directories]\r\nHomeDir=" + home_ + "\r\nTempDir=" + prog_ + "Temp/\r\nLogsDir=" + prog_ +
                  "Logs/\r\n" + ini_directories_ +
                  "[Log]\r\nDoAccess=1\r\nLocal=1\r\n"
                  "[Aliases]\r\nPICS=" + prog_ + "Images/\r\n" + ini_extra_);
  }

  // Starts the server program (the test server unless told) on the site.
  void Start(const std::string& program = TESTSERVER_PATH) {
    WriteIni();
    // A log left by an earlier start must not pass for this one's "READY".
    std::filesystem::remove(prog_ + "server.log");
    pid_ = fork();
    if (pid_ == 0) {
      setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
      setenv("HALVORINE_CLOCK", kClock, 1);
      for (const auto& [name, value] : env_extra_) setenv(name.c_str(), value.c_str(), 1);
      if (open_files_limit_ > 0) {
        rlimit limit{open_files_limit_, open_files_limit_};
        setrlimit(RLIMIT_NOFILE, &limit);
      }
      int out = ::open((prog_ + "server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open((prog_ + "server.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      execl(program.c_str(), "testserver", prog_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadFile(prog_ + "server.log").find("READY ") == std::string::npos) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        FAIL() << "the test server ended at start: " << ReadFile(prog_ + "server.err");
      }
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "the test server did not get ready";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Stops the server with SIGTERM; it must end with 0.
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit status " << status << "; stderr: " << ReadFile(prog_ + "server.err");
  }

  std::string Get(const std::string& request, const char* from = "127.0.0.1") {
    return Exchange(port_, request, from);
  }

  std::string AccessLog() { return ReadFile(prog_ + "Logs/ACCESS.LOG"); }
  // The access line one request from 127.0.0.1 writes.
  static std::string Line(const std::string& user, const std::string& request_line, int status, std::size_t length,
                          const std::string& client = "127.0.0.1") {
    return client + " - " + (user.empty() ? "-" : user) + " " + kStamp + " \"" + request_line + "\" " +
           std::to_string(status) + " " + std::to_string(length) + "\r\n";
  }
  std::string ServerLog() { return ReadFile(prog_ + "server.log"); }

  std::string root_, prog_, home_;
  std::string ini_extra_;        // further sections
  std::string ini_directories_;  // further lines of [Directories]
  std::vector<std::pair<std::string, std::string>> env_extra_;  // for the server's environment
  int max_sockets_ = 4;           // [Network] MaxSockets
  rlim_t open_files_limit_ = 0;  // the server's limit of open descriptors, when set
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace e2e
