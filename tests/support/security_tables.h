// The four security tables, made by the schema script an administrator runs,
// in a directory of the test's choosing.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "tests/support/execute_sql.h"

// Creates the four tables, empty, in directory (made when missing); an
// existing table is left as it is. The script attaches its files by bare
// name, so each is given the directory in front.
inline void CreateSecurityTables(const std::string& directory) {
  std::filesystem::create_directories(directory);
  std::ifstream in(HALV_SCHEMA_SCRIPT);
  std::string script((std::istreambuf_iterator<char>(in)), {});
  if (script.empty()) throw std::runtime_error("cannot read " HALV_SCHEMA_SCRIPT);
  std::string dir;
  for (char c : directory) dir += c == '\'' ? std::string("''") : std::string(1, c);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string attach = "ATTACH '";
  for (std::size_t at = script.find(attach); at != std::string::npos; at = script.find(attach, at)) {
    at += attach.size();
    script.insert(at, dir);
    at += dir.size();
  }
  testsupport::ExecuteSql(":memory:", script, true);
}
