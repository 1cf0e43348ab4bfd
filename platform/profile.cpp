#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/ascii.h"
#include "platform/changestamp.h"
#include "platform/files.h"
#include "platform/msgloop.h"

namespace platform {
namespace {

using ascii::Lower;

bool SameName(std::string_view a, std::string_view b) { return ascii::SameText(a, b); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Trim(const std::string& s) { return std::string(TrimView(s)); }

std::string Unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

std::string Cut(std::string v) {
  if (v.size() > kIniMaxValue) v.resize(kIniMaxValue);
  return v;
}

enum class LineKind { Other, Section, Pair };

struct Line {
  std::string text;  // as in the file, without its line end
  LineKind kind = LineKind::Other;
  std::string name;   // section name or key, trimmed
  std::string value;  // a pair's value, trimmed and unquoted (not cut)
};

Line Classify(std::string text) {
  Line line;
  line.text = std::move(text);
  std::string t = Trim(line.text);
  if (t.empty() || t[0] == ';') return line;
  if (t[0] == '[') {
    size_t close = t.find(']');
    line.kind = LineKind::Section;
    line.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return line;
  }
  size_t eq = t.find('=');
  if (eq == std::string::npos) return line;
  line.kind = LineKind::Pair;
  line.name = Trim(t.substr(0, eq));
  line.value = Unquote(Trim(t.substr(eq + 1)));
  return line;
}

std::vector<Line> Parse(const std::string& data) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    size_t end = nl == std::string::npos ? data.size() : nl;
    size_t stop = end > pos && data[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(Classify(data.substr(pos, stop - pos)));
    pos = nl == std::string::npos ? data.size() : nl + 1;
  }
  return lines;
}

std::string Serialize(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& l : lines) {
    out += l.text;
    out += "\r\n";
  }
  return out;
}

// The range [begin, end) of the lines of the first section of that name
// (begin is its header); nullopt when there is none.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<Line>& lines, const std::string& section,
                                                     size_t from = 0) {
  const std::string_view name = TrimView(section);
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::Section || !SameName(lines[i].name, name)) continue;
    size_t end = i + 1;
    while (end < lines.size() && lines[end].kind != LineKind::Section) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

// Readers keep the parsed lines of each file, keyed by what identifies one
// state of the file: device, inode, size and change times. A write by any
// process replaces the file (new inode) or at least changes its times, so a
// read never sees a stale value; an unchanged file costs one stat, or
// nothing while its change stamp stands.
struct CachedFile {
  struct stat st;  // the version the lines were read from
  std::shared_ptr<const std::vector<Line>> lines;
  uint64_t confirmed_in = 0;  // the handler pass whose stat confirmed it last
  bool settled = false;       // unchanged for a while: a matching stat confirms it
  uint64_t stamp = 0;         // the change stamp it was read under (0: none)
};

std::mutex cache_mutex;
std::unordered_map<std::string, CachedFile> cache;
constexpr size_t kCacheLimit = 64;

bool Matches(const CachedFile& c, const struct stat& st) { return c.settled && SameFileVersion(c.st, st); }

std::shared_ptr<const std::vector<Line>> Load(const std::string& path) {
  static const auto empty = std::make_shared<const std::vector<Line>>();
  // One stat confirms a settled file's parsed lines, once per handler of a
  // message: a handler's many reads see the file as its first read did.
  const uint64_t pass = DispatchPass();
  if (pass != 0) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    auto it = cache.find(path);
    if (it != cache.end() && it->second.confirmed_in == pass) return it->second.lines;
  }
  // With change notices, an unchanged stamp confirms the parsed lines
  // without a look at the file.
  const uint64_t stamp = ChangeStamp(path);
  if (stamp != 0) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    auto it = cache.find(path);
    if (it != cache.end() && it->second.stamp == stamp) {
      it->second.confirmed_in = pass;
      return it->second.lines;
    }
  }
  // Only a regular file holds settings; a FIFO or device under the name is
  // neither waited for nor read.
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return empty;
  {
    std::lock_guard<std::mutex> lock(cache_mutex);
    auto it = cache.find(path);
    if (it != cache.end() && Matches(it->second, st)) {
      it->second.confirmed_in = pass;
      it->second.stamp = stamp;
      return it->second.lines;
    }
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return empty;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return empty;
  }
  std::string data;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
  ::close(fd);
  if (n < 0) return empty;
  auto lines = std::make_shared<const std::vector<Line>>(Parse(data));
  // Only a whole read of the state fstat saw is kept, and only once the file
  // has been still for a while: file times tick coarsely, so a file changed
  // in place twice within one tick would otherwise look unchanged.
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  bool settled = now.tv_sec - st.st_mtim.tv_sec > 2 && now.tv_sec - st.st_ctim.tv_sec > 2;
  // A file not yet settled serves only the rest of this handler's reads.
  // Read under a stamp, it stays good until the stamp moves.
  if ((settled || pass != 0 || stamp != 0) && static_cast<off_t>(data.size()) == st.st_size) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    if (cache.size() >= kCacheLimit) cache.clear();
    cache[path] = CachedFile{st, lines, pass, settled, stamp};
  }
  return lines;
}

const Line* FindKey(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
  const std::string_view k = TrimView(key);
  if (k.empty()) return nullptr;
  auto range = FindSection(lines, section);
  if (!range) return nullptr;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    if (lines[i].kind == LineKind::Pair && SameName(lines[i].name, k)) return &lines[i];
  }
  return nullptr;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Parses a value as the profile functions read integers; false when it is
// not a number.
bool ParseInteger(const std::string& v, int32_t& out) {
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    uint64_t n = 0;
    for (size_t i = 2; i < v.size(); ++i) {
      char c = Lower(v[i]);
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      n = n * 16 + static_cast<uint64_t>(d);
      if (n > 0xFFFFFFFFull) return false;
    }
    out = static_cast<int32_t>(static_cast<uint32_t>(n));
    return true;
  }
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  if (i == v.size()) return false;
  int64_t n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return false;
    n = n * 10 + (v[i] - '0');
    if (n > 2147483648LL) return false;
  }
  if (negative) n = -n;
  if (n > 2147483647LL) return false;
  out = static_cast<int32_t>(n);
  return true;
}

// Holds the advisory lock that serialises the writers of one file.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path) : fd_(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~WriteLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Reads the file for a change under the lock: a missing file is empty; one
// that exists but cannot be read must not be replaced.
std::vector<Line> LoadForWrite(const std::string& path) {
  if (std::optional<std::string> data = ReadWholeFile(path)) return Parse(*data);
  struct stat st{};
  if (errno == ENOENT && ::lstat(path.c_str(), &st) != 0) return {};
  throw IniWriteError(path);
}

std::mutex hook_mutex;
std::function<void()> before_replace;

void Store(const std::string& path, const std::vector<Line>& lines) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(hook_mutex);
    hook = before_replace;
  }
  {
    std::lock_guard<std::mutex> lock(cache_mutex);
    cache.erase(path);  // this process's own write is seen at once
  }
  if (!WriteFileAtomic(path, Serialize(lines), hook)) throw IniWriteError(path);
}

// A new section at the end of the file, after a blank line.
void AppendSection(std::vector<Line>& lines, const std::string& section, const std::vector<Line>& body) {
  if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(Line{});
  lines.push_back(Classify("[" + section + "]"));
  lines.insert(lines.end(), body.begin(), body.end());
}

// True when a section, key or value would break the file's structure.
bool BreaksFile(const std::string& section, const std::string& key, const std::string& value) {
  return HasLineBreak(section) || section.find(']') != std::string::npos || key.empty() || HasLineBreak(key) ||
         key.find('=') != std::string::npos || key[0] == ';' || key[0] == '[' || HasLineBreak(value);
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  auto lines = Load(path_);
  const Line* line = FindKey(*lines, section, key);
  return Cut(line ? line->value : def);
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
  auto lines = Load(path_);
  const Line* line = FindKey(*lines, section, key);
  int32_t n;
  return line && ParseInteger(Cut(line->value), n) ? n : def;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<std::string> IniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> names;
  auto loaded = Load(path_);
  const std::vector<Line>& lines = *loaded;
  auto range = FindSection(lines, section);
  if (!range) return names;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    const Line& l = lines[i];
    if (l.kind != LineKind::Pair || l.name.empty()) continue;
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, l.name); })) names.push_back(l.name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> IniFile::ReadSectionValues(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> seen;
  auto loaded = Load(path_);
  const std::vector<Line>& lines = *loaded;
  auto range = FindSection(lines, section);
  if (!range) return pairs;
  for (size_t i = range->first + 1; i < range->second; ++i) {
    const Line& l = lines[i];
    if (l.kind != LineKind::Pair || l.name.empty()) continue;
    if (std::any_of(seen.begin(), seen.end(), [&](const std::string& n) { return SameName(n, l.name); })) continue;
    // The first of duplicate keys wins even when its value is empty.
    seen.push_back(l.name);
    if (!l.value.empty()) pairs.emplace_back(l.name, Cut(l.value));
  }
  return pairs;
}

std::vector<std::string> IniFile::ReadSections() const {
  std::vector<std::string> names;
  auto lines = Load(path_);
  for (const Line& l : *lines) {
    if (l.kind != LineKind::Section) continue;
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, l.name); })) names.push_back(l.name);
  }
  return names;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::string s = Trim(section);
  std::string k = Trim(key);
  if (BreaksFile(s, k, value)) throw IniWriteError(path_);
  WriteLock lock(path_);
  if (!lock.ok()) throw IniWriteError(path_);
  std::vector<Line> lines = LoadForWrite(path_);
  auto range = FindSection(lines, s);
  if (!range) {
    AppendSection(lines, s, {Classify(k + "=" + value)});
  } else {
    size_t at = range->second;
    for (size_t i = range->first + 1; i < range->second; ++i) {
      Line& l = lines[i];
      if (l.kind == LineKind::Pair && SameName(l.name, k)) {
        // Keep the line up to the "=" and the blanks after it. The value's
        // own leading blanks, which no reader sees, are not added to them,
        // so writing a value again leaves the file as it was.
        size_t eq = l.text.find('=') + 1;
        while (eq < l.text.size() && IsBlank(l.text[eq])) ++eq;
        size_t from = 0;
        while (from < value.size() && IsBlank(value[from])) ++from;
        l = Classify(l.text.substr(0, eq) + value.substr(from));
        at = std::string::npos;
        break;
      }
    }
    if (at != std::string::npos) {
      while (at > range->first + 1 && Trim(lines[at - 1].text).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Classify(k + "=" + value));
    }
  }
  Store(path_, lines);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::EraseSection(const std::string& section) {
  std::string s = Trim(section);
  // Nothing to erase in a file that is not there.
  struct stat st{};
  if (::lstat(path_.c_str(), &st) != 0 && errno == ENOENT) return;
  WriteLock lock(path_);
  if (!lock.ok()) throw IniWriteError(path_);
  std::vector<Line> lines = LoadForWrite(path_);
  bool changed = false;
  while (auto range = FindSection(lines, s)) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->first), lines.begin() + static_cast<std::ptrdiff_t>(range->second));
    changed = true;
  }
  if (changed) Store(path_, lines);
}

void IniFile::ReplaceSection(const std::string& section,
                             const std::vector<std::pair<std::string, std::string>>& pairs) {
  if (pairs.empty()) {
    EraseSection(section);
    return;
  }
  std::string s = Trim(section);
  // The new body: each key once, where it first came, with its last value.
  std::vector<std::pair<std::string, std::string>> body;
  for (const auto& [key, value] : pairs) {
    std::string k = Trim(key);
    if (BreaksFile(s, k, value)) throw IniWriteError(path_);
    auto same = std::find_if(body.begin(), body.end(), [&](const auto& p) { return SameName(p.first, k); });
    if (same != body.end())
      same->second = value;
    else
      body.emplace_back(k, value);
  }
  std::vector<Line> pair_lines;
  for (const auto& [k, v] : body) pair_lines.push_back(Classify(k + "=" + v));

  WriteLock lock(path_);
  if (!lock.ok()) throw IniWriteError(path_);
  std::vector<Line> lines = LoadForWrite(path_);
  auto range = FindSection(lines, s);
  if (!range) {
    AppendSection(lines, s, pair_lines);
  } else {
    // Later sections of that name go first, so the first range stays put.
    while (auto later = FindSection(lines, s, range->second))
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(later->first),
                  lines.begin() + static_cast<std::ptrdiff_t>(later->second));
    size_t body_begin = range->first + 1;
    size_t body_end = range->second;
    while (body_end > body_begin && Trim(lines[body_end - 1].text).empty()) --body_end;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(body_begin), lines.begin() + static_cast<std::ptrdiff_t>(body_end));
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(body_begin), pair_lines.begin(), pair_lines.end());
  }
  Store(path_, lines);
}

void SetIniBeforeReplaceHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  before_replace = std::move(hook);
}

}  // namespace platform
