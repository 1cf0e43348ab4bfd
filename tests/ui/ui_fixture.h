// Shared pieces of the control-layer tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/msgbox.h"
#include "platform/msgloop.h"
#include "platform/ui/automation.h"

namespace platform::ui::testing {

// Each test starts and ends with an empty queue and no quit request, and
// answers message boxes from a script, so no test sees another's leftovers.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override { Drain(); }
  void TearDown() override { Drain(); }

  static void Drain() {
    MSG m;
    while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) {
    }
  }

  // What the handlers of a test did, in order.
  std::vector<std::string> log;
  MessageBoxScript boxes;
};

// A temporary directory, removed with its content.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/halv-ui-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = std::filesystem::canonical(tmpl).string();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Restores the current directory.
class CwdGuard {
 public:
  CwdGuard() : saved_(std::filesystem::current_path()) {}
  ~CwdGuard() {
    std::error_code ec;
    std::filesystem::current_path(saved_, ec);
  }

 private:
  std::filesystem::path saved_;
};

}  // namespace platform::ui::testing
