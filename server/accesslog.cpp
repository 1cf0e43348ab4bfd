#include "server/accesslog.h"

#include "foundation/serverconfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace {

constexpr int kMaxDatedSuffix = 999;

void Fail(TAccessLog& log, const std::string& what) {
  ++log.ErrorCount;
  log.LastError = what;
  if (log.ErrorReported) return;
  log.ErrorReported = true;
  if (log.OnError) log.OnError(what + " (further log errors are not reported until the logs are reopened)");
}

std::string SysError(int err) { return std::strerror(err); }

// The directory as file names are appended to it: one "/" at the end, "\"
// as "/"; empty stays empty (the current directory).
std::string LogsPrefix(std::string_view dir) { return platform::AddTrailingSlash(platform::NormalizePath(dir)); }

// A name that does not fit its field is refused rather than cut, so that no
// other file is written or renamed; the field is then left empty.
bool SetPath(TAccessLog& log, ShortString& path_field, const std::string& path, bool report) {
  if (path.size() <= ShortString::kMax) {
    path_field = path;
    return true;
  }
  path_field.clear();
  if (report) Fail(log, "Log file name longer than 255 characters: " + path);
  return false;
}

// Opens a log for appending, creating it when missing. Only a regular file
// is a log: the open does not wait when the name is a FIFO or a device, and
// such a name is an error.
bool OpenOne(TAccessLog& log, ShortString& path_field, const std::string& path, int& fd) {
  fd = -1;
  if (!SetPath(log, path_field, path, true)) return false;
  int f = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
  if (f < 0) {
    Fail(log, "open(\"" + path + "\") failed: " + SysError(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(f);
    Fail(log, "open(\"" + path + "\") failed: not a regular file");
    return false;
  }
  int flags = ::fcntl(f, F_GETFL);
  if (flags >= 0) ::fcntl(f, F_SETFL, flags & ~O_NONBLOCK);
  fd = f;
  return true;
}

bool CloseOne(TAccessLog& log, const ShortString& path, int& fd) {
  if (fd < 0) return true;
  int rc = ::close(fd);
  fd = -1;
  if (rc != 0 && errno != EINTR) {
    Fail(log, "close(\"" + path.str() + "\") failed: " + SysError(errno));
    return false;
  }
  return true;
}

bool WriteLine(TAccessLog& log, const ShortString& path, int fd, const std::string& line) {
  if (fd < 0) return true;  // its open failed and was reported
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(log, "write(\"" + path.str() + "\") failed: " + SysError(errno));
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Rename(TAccessLog& log, const ShortString& path, const std::string& dated_base) {
  std::string from = path.str();
  if (from.empty()) return false;  // too long to open; reported then
  // A directory of that name (the open failed on it) is not the log.
  if (platform::IsDirectory(from)) {
    Fail(log, "rename(\"" + from + "\") skipped: it is a directory");
    return false;
  }
  for (int k = 0; k <= kMaxDatedSuffix; ++k) {
    std::string to = dated_base + (k == 0 ? "" : "-" + std::to_string(k)) + ".log";
    if (platform::RenameFile(from, to)) return true;
    if (errno != EEXIST) {
      Fail(log, "rename(\"" + from + "\", \"" + to + "\") failed: " + SysError(errno));
      return false;
    }
  }
  Fail(log, "rename(\"" + from + "\") failed: every dated name up to -" + std::to_string(kMaxDatedSuffix) +
                " exists");
  return false;
}

void LoadPlugin(TAccessLog& log) {
  log.Plugin = platform::LoadLibrary(log.PluginName);
  if (!log.Plugin) {
    log.LogIsStarted = nullptr;
    log.StartLog = nullptr;
    log.StopLog = nullptr;
    log.LogWrite = nullptr;
    return;
  }
  log.LogIsStarted = platform::GetProcAddress(log.Plugin, "LogIsStarted");
  log.StartLog = reinterpret_cast<TLogStart>(platform::GetProcAddress(log.Plugin, "StartLog"));
  log.StopLog = reinterpret_cast<TLogStop>(platform::GetProcAddress(log.Plugin, "StopLog"));
  log.LogWrite = reinterpret_cast<TLogWrite>(platform::GetProcAddress(log.Plugin, "LogWrite"));
  if (log.StartLog) log.StartLog();
}

bool Open(TAccessLog& log, std::string_view dir, bool do_access, bool do_referer, bool do_browser, bool do_combined) {
  bool ok = true;
  if (log.Opened || log.Plugin) ok = CloseLogs(log);
  log.LogsDir = dir;
  log.DoAccess = do_access;
  log.DoReferer = do_referer;
  log.DoBrowser = do_browser;
  log.DoCombined = do_combined;

  std::string prefix = LogsPrefix(log.LogsDir);
  if (do_access)
    ok = OpenOne(log, log.AccessPath, prefix + "ACCESS.LOG", log.AccessFile) && ok;
  else
    SetPath(log, log.AccessPath, prefix + "ACCESS.LOG", false);
  if (!do_combined) {
    if (do_referer)
      ok = OpenOne(log, log.RefererPath, prefix + "REFERER.LOG", log.RefererFile) && ok;
    else
      SetPath(log, log.RefererPath, prefix + "REFERER.LOG", false);
    if (do_browser)
      ok = OpenOne(log, log.BrowserPath, prefix + "BROWSER.LOG", log.BrowserFile) && ok;
    else
      SetPath(log, log.BrowserPath, prefix + "BROWSER.LOG", false);
  }
  LoadPlugin(log);
  log.Opened = true;
  return ok;
}

void ResetErrors(TAccessLog& log) {
  log.ErrorReported = false;
  log.ErrorCount = 0;
  log.LastError.clear();
}

}  // namespace

std::string ZeroPad(std::string_view text, char pad, std::size_t width) { return PadLeft(text, pad, width); }

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::string MonthAbbrev(int month) { return platform::ShortMonthName(month); }

std::string LogTimestamp(platform::TDateTime t) {
  platform::DateParts d = platform::DecodeDate(t);
  // Built in place; the time of day is the platform's "hh:mm:ss".
  std::string out;
  out.reserve(32);
  out += '[';
  out += static_cast<char>('0' + d.day / 10);
  out += static_cast<char>('0' + d.day % 10);
  out += '/';
  out += MonthAbbrev(d.month);
  out += '/';
  out += ZeroPad(std::to_string(d.year), '0', 4);
  out += ':';
  out += platform::FormatTime(t);
  out += ']';
  return out;
}

std::string LogNameStamp(platform::TDateTime t) {
  platform::DateParts d = platform::DecodeDate(t);
  platform::TimeParts tp = platform::DecodeTime(t);
  return std::to_string(d.year % 100) + TwoDigits(d.month) + TwoDigits(d.day) + "-" + TwoDigits(tp.hour) +
         TwoDigits(tp.minute) + TwoDigits(tp.second);
}

namespace {
std::string Escape(std::string_view text, bool quotes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  std::size_t plain = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b != 0x7F && !(quotes && b == '"')) continue;
    out.append(text, plain, i - plain);
    const char escaped[3] = {'%', kHex[b >> 4], kHex[b & 15]};
    out.append(escaped, 3);
    plain = i + 1;
  }
  out.append(text, plain, text.size() - plain);
  return out;
}
}  // namespace

std::string EscapeControlChars(std::string_view text) { return Escape(text, false); }
std::string EscapeLogField(std::string_view text) { return Escape(text, true); }

bool OpenLogs(TAccessLog& log, std::string_view dir, bool do_access, bool do_referer, bool do_browser,
              bool do_combined) {
  ResetErrors(log);
  return Open(log, dir, do_access, do_referer, do_browser, do_combined);
}

bool WriteLogEntry(TAccessLog& log, const TLogEntry& e) {
  std::string stamp = LogTimestamp(platform::Now());
  std::string url = EscapeLogField(e.url);
  std::string referer = EscapeLogField(e.referer);
  std::string agent = EscapeLogField(e.user_agent);
  bool ok = true;

  if (log.DoAccess) {
    std::string line = EscapeLogField(e.client) + " ";
    line += e.identity.empty() ? "- " : EscapeLogField(e.identity) + " ";
    line += e.user.empty() ? "- " : EscapeLogField(e.user) + " ";
    line += stamp;
    line += " \"" + EscapeLogField(e.method) + " /" + url + " " + EscapeLogField(e.protocol) + "\" ";
    line += std::to_string(e.status) + " " + std::to_string(e.content_length);
    if (log.DoCombined) line += " " + referer + " " + agent;
    line += "\r\n";
    ok = WriteLine(log, log.AccessPath, log.AccessFile, line) && ok;
  }
  if (!log.DoCombined) {
    if (log.DoReferer && !e.referer.empty())
      ok = WriteLine(log, log.RefererPath, log.RefererFile, stamp + " " + referer + " -> " + url + "\r\n") && ok;
    if (log.DoBrowser && !e.user_agent.empty())
      ok = WriteLine(log, log.BrowserPath, log.BrowserFile, stamp + " " + agent + "\r\n") && ok;
  }
  if (log.LogWrite) log.LogWrite(e.cid);
  return ok;
}

bool CloseLogs(TAccessLog& log) {
  bool ok = true;
  ok = CloseOne(log, log.AccessPath, log.AccessFile) && ok;
  ok = CloseOne(log, log.RefererPath, log.RefererFile) && ok;
  ok = CloseOne(log, log.BrowserPath, log.BrowserFile) && ok;
  if (log.Plugin) {
    if (log.StopLog) log.StopLog();
    platform::FreeLibrary(log.Plugin);
    log.Plugin = nullptr;
  }
  log.LogIsStarted = nullptr;
  log.StartLog = nullptr;
  log.StopLog = nullptr;
  log.LogWrite = nullptr;
  log.Opened = false;
  return ok;
}

bool CycleLogs(TAccessLog& log) {
  ResetErrors(log);
  std::string stamp = LogNameStamp(platform::Now());
  bool ok = CloseLogs(log);
  std::string prefix = LogsPrefix(log.LogsDir);
  if (log.DoAccess) ok = Rename(log, log.AccessPath, prefix + "Access-" + stamp) && ok;
  if (!log.DoCombined) {
    if (log.DoReferer) ok = Rename(log, log.RefererPath, prefix + "Referer-" + stamp) && ok;
    if (log.DoBrowser) ok = Rename(log, log.BrowserPath, prefix + "Browser-" + stamp) && ok;
  }
  ShortString dir = log.LogsDir;
  // A logs directory removed since the start is made again, as the start
  // makes it.
  std::string made = platform::NormalizePath(dir.str());
  if (made.size() > 2) platform::CreateDirectories(made);
  return Open(log, dir, log.DoAccess, log.DoReferer, log.DoBrowser, log.DoCombined) && ok;
}
