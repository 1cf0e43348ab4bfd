// The sample BBS of one test, and byte comparison of the stand-in's files,
// for tests of the binding and of the managers.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/sample_bbs.h"

namespace bbstest {

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The offsets at which two files differ (a length change counts from the
// shorter length on).
inline std::vector<size_t> Differences(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  std::vector<size_t> at;
  size_t n = a.size() > b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i)
    if (i >= a.size() || i >= b.size() || a[i] != b[i]) at.push_back(i);
  return at;
}

// Entry sizes of the stand-in's list files: a 160-byte list entry and the
// record.
constexpr size_t kSubboardEntry = 160 + 128;
constexpr size_t kDirectoryEntry = 160 + 256;

using testsupport::SampleBbs;

}  // namespace bbstest
