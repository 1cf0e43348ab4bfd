// Small helpers shared by the fuzz targets: a failed property aborts, so
// the fuzzer keeps the input; a scratch directory lives as long as the run.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace fuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// A directory of the process's own, removed at exit.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/halv-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    std::string d = std::string(pattern) + "/";
    static std::string to_remove;
    to_remove = d;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(to_remove, ec);
    });
    return d;
  }();
  return dir;
}

// The whole content of a file; empty when it cannot be read.
inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Splits fuzz input into fields at byte 0x01, so one input drives several
// arguments.
class Fields {
 public:
  Fields(const uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  std::string_view Next() {
    std::size_t cut = rest_.find('\x01');
    std::string_view field = rest_.substr(0, cut);
    rest_ = cut == std::string_view::npos ? std::string_view() : rest_.substr(cut + 1);
    return field;
  }

 private:
  std::string_view rest_;
};

}  // namespace fuzz
