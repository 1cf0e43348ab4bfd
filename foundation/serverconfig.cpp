#include "foundation/serverconfig.h"

#include <cstdlib>
#include <cstring>

#include "platform/files.h"

platform::IniFile* ConfigIni = nullptr;
platform::IniFile* MimeIni = nullptr;

const std::string& ProgramDir() {
  static const std::string dir = platform::ProgramDirectory();
  return dir;
}

void OpenConfigFiles() {
  if (ConfigIni) return;
  ConfigIni = new platform::IniFile(ProgramDir() + "KORRIDAN.INI");
  MimeIni = new platform::IniFile(ProgramDir() + "MIME.INI");
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(CloseConfigFiles);
  }
}

void CloseConfigFiles() {
  delete ConfigIni;
  delete MimeIni;
  ConfigIni = nullptr;
  MimeIni = nullptr;
}

void RemoveSettingsLeftovers() {
  for (const platform::IniFile* ini : {ConfigIni, MimeIni})
    if (ini) platform::RemoveAtomicWriteLeftovers(ini->FileName());
}

int32_t MinInt(int32_t a, int32_t b) { return a < b ? a : b; }

std::string PadLeft(std::string_view text, char ch, std::size_t width) {
  std::string out;
  if (text.size() < width) out.assign(width - text.size(), ch);
  out.append(text);
  return out;
}

int32_t SecondsBetween(platform::TDateTime later, platform::TDateTime earlier) {
  auto seconds_of_day = [](platform::TDateTime t) {
    platform::TimeParts p = platform::DecodeTime(t);
    return p.hour * 3600 + p.minute * 60 + p.second;
  };
  int32_t d = seconds_of_day(later) - seconds_of_day(earlier);
  return d < 0 ? d + 86400 : d;
}

void ToCString(char* dest, std::string_view text, std::size_t size) {
  if (size == 0) return;
  std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n) std::memmove(dest, text.data(), n);
  dest[n] = '\0';
}

char* ToCStringRet(char* dest, std::string_view text, std::size_t size) {
  ToCString(dest, text, size);
  return dest;
}

bool ShortFileExists(std::string_view name) { return !name.empty() && platform::FileExists(std::string(name)); }

void TrimAtNul(ShortString& text) {
  const void* nul = std::memchr(text.data, '\0', ShortString::kMax);
  if (nul) text.len = static_cast<std::uint8_t>(static_cast<const char*>(nul) - text.data + 1);
}
