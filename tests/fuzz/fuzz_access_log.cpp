// Writing access, referer and browser lines from arbitrary request fields.
// Properties: every entry adds exactly one line to each log it writes, a
// line ends with its one CR LF and holds no other control character, the
// quoted request of an access line holds no double quote (so the fields
// after it are where a reader looks for them), and a field without "%"
// reads back byte for byte by undoing the %XX escapes.
#include <fstream>
#include <string>

#include "server/accesslog.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string Unescape(std::string_view s) {
  auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      int v = hex(s[i + 1]) * 16 + hex(s[i + 2]);
      if (v < 0x20 || v == 0x7F || v == '"') {
        out.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

// The single line a log holds after one entry, checked for its shape.
std::string OneLine(const std::string& text) {
  fuzz::Check(text.size() >= 2 && text.ends_with("\r\n"));
  std::string line = text.substr(0, text.size() - 2);
  for (unsigned char c : line) fuzz::Check(c >= 0x20 && c != 0x7F);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Fields fields(data, size);
  std::string user(fields.Next()), method(fields.Next()), url(fields.Next()), protocol(fields.Next()),
      referer(fields.Next()), agent(fields.Next());
  static int run = 0;
  const std::string dir = fuzz::ScratchDir() + "logs" + std::to_string(++run) + "/";
  TAccessLog log;
  std::filesystem::create_directories(dir);
  fuzz::Check(OpenLogs(log, dir, true, true, true, false));
  TLogEntry e;
  e.cid = 1;
  e.client = "127.0.0.1";
  e.user = user;
  e.method = method;
  e.url = url;
  e.protocol = protocol;
  e.status = 200;
  e.content_length = 42;
  e.referer = referer;
  e.user_agent = agent;
  fuzz::Check(WriteLogEntry(log, e));
  CloseLogs(log);

  std::string access = OneLine(fuzz::Slurp(dir + "ACCESS.LOG"));
  std::size_t open = access.find('"');
  fuzz::Check(open != std::string::npos);
  std::size_t close = access.find('"', open + 1);
  fuzz::Check(close != std::string::npos && access.find('"', close + 1) == std::string::npos);
  fuzz::Check(access.substr(close) == "\" 200 42");
  // A "%" of a field is written as it is, so only fields without one read
  // back exactly.
  const bool exact = std::string_view(reinterpret_cast<const char*>(data), size).find('%') == std::string_view::npos;
  std::string request = Unescape(access.substr(open + 1, close - open - 1));
  if (exact) fuzz::Check(request == method + " /" + url + " " + protocol);
  if (!referer.empty() && exact) {
    std::string line = OneLine(fuzz::Slurp(dir + "REFERER.LOG"));
    fuzz::Check(Unescape(line.substr(line.find("] ") + 2)) == referer + " -> " + url);
  }
  if (!agent.empty() && exact) {
    std::string line = OneLine(fuzz::Slurp(dir + "BROWSER.LOG"));
    fuzz::Check(Unescape(line.substr(line.find("] ") + 2)) == agent);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
