// What the end-to-end suites put in a program directory: files, and rows of
// the security tables written the way the tools write them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/security.h"

namespace testsupport {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string Upper(std::string s) {
  UpcaseShortString(s);
  return s;
}

// Standard Base64 with padding, as a client sends Basic credentials.
inline std::string Base64(const std::string& text) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char ch : text) {
    bits = bits << 8 | ch;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += kAlphabet[(bits >> count) & 63];
    }
  }
  if (count > 0) out += kAlphabet[(bits << (6 - count)) & 63];
  while (out.size() % 4) out += '=';
  return out;
}

// A name list of one group (or none) as an SQL blob.
inline std::string NameListSql(const std::string& group) {
  return group.empty() ? "CAST('' AS BLOB)" : "CAST('" + group + "' || char(13) AS BLOB)";
}

// The USERS row of an account, its password hashed as the server checks it.
inline std::string UserInsert(const std::string& login, const std::string& password, const std::string& group) {
  auto hash = static_cast<int32_t>(PasswordHash(Upper(password)));
  return "INSERT INTO USERS VALUES ('" + Upper(login) + "', '" + login + "', " + std::to_string(hash) + ", " +
         NameListSql(group) + ");";
}

// An ACCESS row of module SERVER, action GET, for a directory (with its "/").
inline std::string RuleInsert(const std::string& dir, const std::string& enforce, const std::string& group,
                              const std::string& ipaction) {
  return "INSERT INTO ACCESS VALUES ('SERVER', '" + Upper(dir) + "', 'GET', '" + ipaction + "', '" + enforce +
         "', " + NameListSql(group) + ", CAST('' AS BLOB), CAST('' AS BLOB));";
}

}  // namespace testsupport
