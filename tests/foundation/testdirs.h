// A temporary directory per test, removed afterwards, with the registry
// (and so the alias registry) moved into it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halv-foundation-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("HALVORINE_REGISTRY", (root_ + "/registry").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("HALVORINE_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // A new directory below the test's root.
  std::string MakeDir(const std::string& name) {
    std::string dir = root_ + "/" + name;
    std::filesystem::create_directories(dir);
    return dir;
  }
  std::string root_;
};
