#include "foundation/security.h"

#include <array>
#include <chrono>
#include <exception>

#include "foundation/securitystore.h"
#include "platform/ascii.h"

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// How long one check may wait for another program's lock on a table: the
// server answers every client from one thread, so whoever comes meanwhile
// waits as long.
constexpr std::chrono::milliseconds kLookupWait{100};

void Report(std::string* error, const char* what) {
  if (error) *error = what;
}

bool Decide(std::string_view module, std::string_view resource, std::string_view action, std::string_view user,
            std::string_view address) {
  SecurityStore& s = SecurityStore::Instance();
  std::string key(resource);
  UpcaseShortString(key);
  if (!s.Access.FindKey({module, key, action})) return false;
  std::string ipaction = s.Access.AsString(s.AccessIpAction);
  if (s.Access.AsString(s.AccessEnforce) == "N") return true;

  if (!s.Users.FindKey({user})) return false;
  std::vector<std::string> user_groups, rule_groups;
  ReadNameList(s.Users, s.UsersSecGroups, user_groups, &s.Groups);
  ReadNameList(s.Access, s.AccessGroups, rule_groups, &s.Groups);
  bool passed = ListsIntersect(user_groups, rule_groups);
  if (!passed) {
    std::vector<std::string> rule_users;
    ReadNameList(s.Access, s.AccessUsers, rule_users, nullptr);
    for (const auto& u : rule_users)
      if (platform::ascii::SameText(u, user)) {
        passed = true;
        break;
      }
  }
  if (!passed) return false;

  std::vector<std::string> patterns;
  ReadNameList(s.Access, s.AccessIpAddr, patterns, nullptr);
  return MatchIPList(ipaction.empty() ? '\0' : ipaction[0], address, patterns);
}

}  // namespace

TLookupWait::TLookupWait() : deadline_(kLookupWait) {}

void UpcaseShortString(ShortString& text) {
  platform::ascii::UpperInPlace(text.data, text.len);
}

void UpcaseShortString(std::string& text) {
  platform::ascii::UpperInPlace(text.data(), text.size());
}

std::uint32_t Crc32Step(std::uint8_t byte, std::uint32_t crc) {
  return kCrcTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
}

std::uint32_t PasswordHash(const void* bytes, std::size_t count, std::uint32_t seed) {
  std::uint32_t crc = ~seed;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < count; ++i) crc = Crc32Step(p[i], crc);
  return crc;
}

bool CheckPassword(ShortString& user, ShortString& password, std::string* error) {
  UpcaseShortString(user);
  UpcaseShortString(password);
  try {
    platform::DbDeadline deadline(kLookupWait);
    SecurityStore& s = SecurityStore::Instance();
    if (!s.Users.FindKey({user.view()})) return false;
    auto stored = static_cast<std::uint32_t>(s.Users.AsInteger(s.UsersPassHash));
    return PasswordHash(password.data, password.len, 1) == stored;
  } catch (const std::exception& e) {
    Report(error, e.what());
  } catch (...) {
    Report(error, "unknown error in the security store");
  }
  return false;
}

bool CheckAccess(std::string_view file, std::string_view user, std::string_view address, std::string* error) {
  std::size_t slash = file.rfind('/');
  std::string_view directory = slash == std::string_view::npos ? std::string_view() : file.substr(0, slash + 1);
  return CheckAccessRule("SERVER", directory, "GET", user, address, error);
}

bool CheckAccessRule(std::string_view module, std::string_view resource, std::string_view action,
                     std::string_view user, std::string_view address, std::string* error) {
  try {
    platform::DbDeadline deadline(kLookupWait);
    return Decide(module, resource, action, user, address);
  } catch (const std::exception& e) {
    Report(error, e.what());
  } catch (...) {
    Report(error, "unknown error in the security store");
  }
  return false;
}

bool ListsIntersect(const std::vector<std::string>& first, const std::vector<std::string>& second) {
  for (const auto& a : first)
    for (const auto& b : second)
      if (platform::ascii::SameText(a, b)) return true;
  return false;
}

bool MatchIPList(char letter, std::string_view address, const std::vector<std::string>& patterns) {
  auto any = [&] {
    for (const auto& p : patterns)
      if (MatchIPPattern(address, p)) return true;
    return false;
  };
  switch (letter) {
    case 'A': return any();
    case 'D': return !any();
    case 'I': return true;
    default: return false;
  }
}

bool MatchIPPattern(std::string_view address, std::string_view pattern) {
  for (int k = 1; k <= 4; ++k) {
    int r = MatchIPOctet(k, pattern, address);
    if (r == 0) return false;
    if (r == 1) return true;
  }
  return true;
}

int MatchIPOctet(int k, std::string_view pattern, std::string_view address) {
  std::string_view p = IPTextPart(pattern, k);
  if (p == "*") return 1;
  return p == IPTextPart(address, k) ? 2 : 0;
}

std::string_view IPTextPart(std::string_view text, int k) {
  for (int i = 1; i < k; ++i) {
    std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) text.remove_prefix(dot + 1);
  }
  if (k < 4) {
    std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) text = text.substr(0, dot);
  }
  return text;
}

std::string ReadIPPattern(std::string_view pattern) {
  std::string reading;
  bool star = false;
  for (int k = 1; k <= 4; ++k) {
    if (k > 1) reading += '.';
    std::string_view part = IPTextPart(pattern, k);
    star = star || part == "*";
    reading += star ? std::string_view("*") : part;
  }
  return reading;
}
