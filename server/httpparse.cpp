#include "server/httpparse.h"

#include <cstring>

#include "platform/ascii.h"
#include "server/accesslog.h"
#include "server/urldecode.h"

namespace {

using platform::ascii::SameText;
using platform::ascii::StartsWithText;
using platform::ascii::UpperCase;

// Trims bytes up to and including the blank from both ends: blanks and
// control characters.
std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

void Log(const RequestLogHooks& hooks, std::string_view line) {
  if (hooks.log) hooks.log(EscapeControlChars(line));
}

bool LogHeaders(const RequestLogHooks& hooks) { return hooks.log_headers && hooks.log_headers(); }

// Splits the request line into method, URL and version. Returns the version
// token as sent, for the decision whether header lines follow.
std::string ParseRequestLine(TRequestRecord& rec, const ShortString& line) {
  rec.Method = rmUnknown;
  rec.Request.clear();
  rec.Version = hvNone;
  std::string version_token;
  ShortString text = line;
  ShortString token{};
  for (int n = 1;; ++n) {
    SplitToken(text, token, ' ');
    if (token.empty()) break;
    if (n == 1) {
      rec.Method = ParseMethod(token);
    } else if (n == 2) {
      rec.Request.assign(token.view().substr(1));
    } else if (n == 3) {
      rec.Version = ParseVersion(token);
      version_token = token.str();
    }
  }
  return version_token;
}

// The line with its first ": " turned into "=", as the header list keeps it.
std::string StoredHeaderLine(std::string_view line) {
  std::size_t at = line.find(": ");
  if (at == std::string_view::npos) return std::string(line);
  std::string out;
  out.reserve(line.size() - 1);
  out.append(line.substr(0, at)).push_back('=');
  out.append(line.substr(at + 2));
  return out;
}

void DeriveFields(TRequestRecord& rec) {
  rec.ReceivedUrl = rec.Request;
  static const THeaderLines kNoLines;
  const THeaderLines& lines = rec.HeaderLines ? *rec.HeaderLines : kNoLines;

  rec.Multipart = StartsWithText(HeaderValue(lines, "Content-Type"), "multipart/form-data");
  rec.ContentLength = ParseContentLength(HeaderValue(lines, "Content-Length"));

  std::string_view auth = HeaderValue(lines, "Authorization");
  if (!auth.empty()) {
    // The scheme word and its blank go, whatever the scheme; a value
    // without a blank is decoded whole.
    std::size_t blank = auth.find(' ');
    if (blank != std::string_view::npos) auth.remove_prefix(blank + 1);
    ShortString decoded = DecodeBase64(auth);
    std::string_view d = decoded.view();
    std::size_t colon = d.find(':');
    if (colon == std::string_view::npos) {
      rec.User = UpperCase(d);
    } else {
      rec.User = UpperCase(d.substr(0, colon));
      rec.Password = UpperCase(d.substr(colon + 1));
    }
  }

  std::string_view referer = HeaderValue(lines, "Referer");
  if (!referer.empty()) rec.Referer = TrimControls(referer);
  std::string_view agent = HeaderValue(lines, "User-Agent");
  if (!agent.empty()) rec.UserAgent = TrimControls(agent);
}

HeaderResult Finish(TRequestRecord& rec, HeaderStatus status, const char* reason = "") {
  DeriveFields(rec);
  return HeaderResult{status, reason};
}

}  // namespace

bool SplitToken(ShortString& text, ShortString& token, char separator) {
  DecodeUrlEscapes(text, ShortString::kMax);
  std::string_view v = text.view();
  std::size_t at = v.find(separator);
  if (at == std::string_view::npos) {
    token = text;
    text.clear();
    return false;
  }
  token.assign(v.substr(0, at));
  ShortString rest(v.substr(at + 1));
  text = rest;
  return true;
}

uint8_t ParseMethod(std::string_view text) {
  std::string u = UpperCase(text);
  if (u == "GET") return rmGet;
  if (u == "HEAD") return rmHead;
  if (u == "POST") return rmPost;
  return rmUnknown;
}

ShortString MethodText(uint8_t method) {
  switch (method) {
    case rmGet: return ShortString("GET");
    case rmHead: return ShortString("HEAD");
    case rmPost: return ShortString("POST");
    default: return ShortString("");
  }
}

uint8_t ParseVersion(std::string_view text) {
  std::string u = UpperCase(text);
  if (u == "HTTP/0.9") return hv09;
  if (u == "HTTP/1.0") return hv10;
  return hvNone;
}

ShortString VersionText(uint8_t version) {
  switch (version) {
    case hv09: return ShortString("HTTP/0.9");
    case hv10: return ShortString("HTTP/1.0");
    default: return ShortString("");
  }
}

ShortString DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t group = 0;  // 24 bits, filled from the top
  int places = 0;
  for (char c : text) {
    int v = Base64Value(c);
    if (v > 0) group |= static_cast<uint32_t>(v) << (18 - 6 * places);
    if (++places == 4) {
      out.push_back(static_cast<char>(group >> 16));
      out.push_back(static_cast<char>((group >> 8) & 0xFF));
      out.push_back(static_cast<char>(group & 0xFF));
      group = 0;
      places = 0;
    }
  }
  if (places > 0) {
    out.push_back(static_cast<char>(group >> 16));
    out.push_back(static_cast<char>((group >> 8) & 0xFF));
    out.push_back(static_cast<char>(group & 0xFF));
  }
  std::size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return ShortString(out);  // cut to 255
}

std::string_view HeaderValue(const THeaderLines& lines, std::string_view name) {
  for (const std::string& line : lines) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (SameText(std::string_view(line).substr(0, eq), name)) return std::string_view(line).substr(eq + 1);
  }
  return {};
}

int64_t ParseContentLength(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return kContentLengthAbsent;
  int64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return kContentLengthAbsent;
    int d = c - '0';
    if (n > (kContentLengthMax - d) / 10) return kContentLengthAbsent;
    n = n * 10 + d;
  }
  return n;
}

bool InputFullWithoutLine(const TByteFifo* input) {
  if (!input) return false;
  if (FifoFindByte(input, '\n') != 0) return false;
  int64_t used = input->Start >= kFifoCompactAt ? input->Count : FifoEndIndex(input);
  return used >= kFifoCapacity;
}

HeaderResult ReadRequestHeader(TRequestRecord& rec, TByteFifo* input, const RequestLogHooks& hooks) {
  ShortString line{};
  bool cut = false;
  while (FifoTakeLine(input, line, kMaxLineLength, &cut)) {
    if (!line.empty() && LogHeaders(hooks)) Log(hooks, line);
    if (line.empty()) return Finish(rec, HeaderStatus::Complete);

    if (rec.ExpectRequestLine) {
      Log(hooks, line);
      std::string version = ParseRequestLine(rec, line);
      rec.ExpectRequestLine = false;
      if (cut) return Finish(rec, HeaderStatus::BadRequest, "request line longer than 255 characters -> 400");
      // Header lines follow only for HTTP/1.x; an HTTP/0.9 request (or one
      // without a version) ends with its request line.
      if (!StartsWithText(version, "HTTP/1.")) return Finish(rec, HeaderStatus::Complete);
      continue;
    }

    // A header line over 255 characters was cut by FifoTakeLine, which took
    // its rest through the line feed too: it never turns into a second line.
    if (rec.HeaderLines) {
      if (rec.HeaderLines->size() >= kMaxHeaderLines)
        return Finish(rec, HeaderStatus::BadRequest, "more than 100 header lines -> 400");
      rec.HeaderLines->push_back(StoredHeaderLine(line));
    }
  }
  if (InputFullWithoutLine(input))
    return Finish(rec, HeaderStatus::BadRequest, "request line or header line fills the input buffer -> 400");
  return Finish(rec, HeaderStatus::NotYet);
}
