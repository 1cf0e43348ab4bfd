#include "server/fileresolve.h"

#include <sys/stat.h>

#include <vector>

#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/msgloop.h"

namespace {

// The last path looked at, what was there, and the handler pass that looked:
// within one handler a path is looked at once, whatever is asked of it.
struct SeenPath {
  uint64_t pass = 0;
  std::string path;
  bool exists = false;
  struct stat st {};
};
SeenPath seen_path;

bool StatOnce(const std::string& path, struct stat& st) {
  const uint64_t pass = platform::DispatchPass();
  if (pass != 0 && seen_path.pass == pass && seen_path.path == path) {
    st = seen_path.st;
    return seen_path.exists;
  }
  const bool exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
  seen_path.pass = pass;
  seen_path.path = path;
  seen_path.exists = exists;
  if (!exists) st = {};
  seen_path.st = st;
  return exists;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Calls visit with each segment between separators, in order (empty ones
// too), until it returns true; true when one did.
template <class Visit>
bool AnySegment(std::string_view url, Visit visit) {
  std::size_t start = 0;
  while (start <= url.size()) {
    std::size_t end = start;
    while (end < url.size() && !IsSeparator(url[end])) ++end;
    if (visit(url.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

using platform::ascii::UpperCase;

bool IsDirectoryPath(const std::string& path) {
  struct stat st;
  return StatOnce(platform::NormalizePath(path), st) && S_ISDIR(st.st_mode);
}
bool IsFilePath(const std::string& path) { return IsRegularFile(platform::NormalizePath(path)); }

// The upper-cased extension of the last path component, from its last ".";
// empty when it has none.
std::string UpperExtension(std::string_view name) {
  std::size_t slash = name.find_last_of("/\\");
  std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
  std::size_t dot = last.rfind('.');
  return dot == std::string_view::npos ? std::string() : UpperCase(last.substr(dot));
}

}  // namespace

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty() || !IsSeparator(out.back())) out.push_back('/');
  out.append(name);
  return out;
}

bool UrlIsUnsafe(std::string_view url) {
  for (char c : url) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return true;
  }
  return AnySegment(url, [](std::string_view segment) { return segment == ".."; });
}

bool UrlNeedsLogin(std::string_view url) {
  // The first segment the file system will see: empty and "." segments
  // name no directory of their own.
  bool needs = false;
  AnySegment(url, [&needs](std::string_view segment) {
    if (segment.empty() || segment == ".") return false;
    needs = segment.front() == '&';
    return true;
  });
  return needs;
}

bool ResolveAlias(int32_t /*slot*/, ShortString& rest, std::string& dir) {
  dir.clear();
  std::string_view text = rest.view();
  std::size_t end = text.find_first_of("/\\");
  std::string_view segment = end == std::string_view::npos ? text : text.substr(0, end);
  if (segment.empty() || !ConfigIni) return false;
  std::string value = ConfigIni->ReadString(settings::kAliases, UpperCase(segment), "");
  if (value.empty()) return false;
  std::size_t cut = segment.size();
  if (end != std::string_view::npos && text[end] == '/') ++cut;
  ShortString left(text.substr(cut));
  rest = left;
  dir = value;
  return true;
}

bool RegularFileStat(const std::string& path, struct stat& st) { return StatOnce(path, st) && S_ISREG(st.st_mode); }

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return RegularFileStat(path, st);
}

int64_t RegularFileSize(const std::string& path) {
  struct stat st;
  return RegularFileStat(path, st) ? static_cast<int64_t>(st.st_size) : 0;
}

std::string FullPath(std::string_view path) {
  std::string whole(path);
  if (whole.empty() || whole.front() != '/') whole = JoinPath(platform::GetCurrentDir(), whole);
  std::vector<std::string_view> parts;
  std::string_view rest(whole);
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (std::string_view p : parts) {
    out.push_back('/');
    out.append(p);
  }
  if (out.empty() || whole.back() == '/') out.push_back('/');
  return out;
}

TFileResolution ResolveFileName(std::string_view home_dir, std::string_view request) {
  TFileResolution r;
  std::string dir(home_dir);
  ShortString rest(request);
  if (!rest.empty()) {
    std::string alias_dir;
    if (ResolveAlias(0, rest, alias_dir)) dir = alias_dir;
  }
  std::string name = rest.str();
  bool names_file = !name.empty() && !IsSeparator(name.back()) && !IsDirectoryPath(JoinPath(dir, name));
  if (!names_file) {
    dir = JoinPath(dir, name);
    name = "index.html";
    if (!IsFilePath(JoinPath(dir, "index.html")) && IsFilePath(JoinPath(dir, "index.htm"))) name = "index.htm";
  }
  r.Request = name;
  r.Requested = platform::NormalizePath(JoinPath(dir, name));
  r.FileName = r.Requested;
  // A name cut to fit could name another file, so a name that does not fit
  // is not looked up at all.
  if (r.FileName.size() > ShortString::kMax) {
    r.TooLong = true;
    return r;
  }
  if (!IsRegularFile(r.FileName)) {
    std::string ext = UpperExtension(r.FileName);
    if (ext == ".HTM")
      r.FileName.push_back('l');
    else if (ext == ".HTML")
      r.FileName.pop_back();
    if (r.FileName.size() > ShortString::kMax) r.TooLong = true;
  }
  return r;
}
