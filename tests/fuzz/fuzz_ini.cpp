// The settings-file reader and writer on arbitrary file contents.
// Properties: reading never fails and gives at most 1023 characters; a
// write that is taken reads back exactly (as the reader trims and unquotes
// it), leaves every other key of every section reading as before, and
// writing the same again changes no byte of the file; a write that would
// break the file is refused with IniWriteError and changes nothing.
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// What the reader makes of a stored value: blanks trimmed, one pair of
// surrounding quotes stripped, cut to 1023.
std::string AsRead(std::string v) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!v.empty() && blank(v.front())) v.erase(v.begin());
  while (!v.empty() && blank(v.back())) v.pop_back();
  if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
    v = v.substr(1, v.size() - 2);
  if (v.size() > 1023) v.resize(1023);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Fields fields(data, size);
  std::string content(fields.Next());
  std::string section(fields.Next()), key(fields.Next()), value(fields.Next());
  // A fresh name each time: the reader may reuse what it parsed of a file
  // whose identity, size and times have not changed.
  static int run = 0;
  const std::string path = fuzz::ScratchDir() + "K" + std::to_string(++run) + ".INI";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  struct Read {
    std::string section, key, value;
  };
  std::vector<Read> before;
  {
    platform::IniFile ini(path);
    for (const std::string& s : ini.ReadSections())
      for (const auto& [k, v] : ini.ReadSectionValues(s)) before.push_back({s, k, ini.ReadString(s, k, "\x02")});
    fuzz::Check(ini.ReadString(section, key, "").size() <= 1023);
  }
  platform::IniFile ini(path);
  std::string old_bytes = fuzz::Slurp(path);
  try {
    ini.WriteString(section, key, value);
  } catch (const platform::IniWriteError&) {
    fuzz::Check(fuzz::Slurp(path) == old_bytes);
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".lock");
    return 0;
  }
  fuzz::Check(ini.ReadString(section, key, "\x02") == AsRead(value));
  auto same_name = [](std::string a, std::string b) {
    auto fold = [](std::string& t) {
      while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.erase(t.begin());
      while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
      for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    fold(a);
    fold(b);
    return a == b;
  };
  for (const Read& r : before) {
    if (same_name(r.section, section) && same_name(r.key, key)) continue;
    fuzz::Check(ini.ReadString(r.section, r.key, "\x02") == r.value);
  }
  std::string written = fuzz::Slurp(path);
  ini.WriteString(section, key, value);
  fuzz::Check(fuzz::Slurp(path) == written);
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".lock");
  return 0;
}
