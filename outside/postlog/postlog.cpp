// POSTLOG.DLL: a sample extension library that consumes a POST body
// ("POST /$POSTLOG.DLL") and answers with a page showing what it got.
//
// A POST runs three entry points, all on the server's window thread:
//   int32_t POSTBEGIN(char* outFile, char* request, int32_t cid, TConnectionInfo* info)
//       once the request header is read; answer 1 to accept the POST
//       (anything else: the client gets 404, and POSTEND still follows).
//   int32_t POSTRESUME(int32_t count, const void* firstByte, int32_t cid, TConnectionInfo* info)
//       for each batch of body bytes as they arrive; the bytes are valid
//       only during the call. The result is not used.
//   int32_t POSTEND(char* outFile, int32_t cid, TConnectionInfo* info)
//       once the body is complete -- or when the client went away during
//       the POST: then info->Closed and info->CallContext are 1 and the
//       answer is not used. Results as for MAKEPAGE (see HELLO.DLL).
// Several POSTs may be in progress at once, one per connection slot (cid),
// so the state is kept per slot.
//
// A request text containing "refuse" is refused in POSTBEGIN. When the
// environment variable POSTLOG_FILE names a file, every call also appends
// one line to it: "POSTBEGIN <cid>", "POSTRESUME <cid> <count>" and
// "POSTEND <cid> bytes=<n> batches=<k> closed=<0|1> context=<n>".
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interface/tandrel.h"

#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kMaxCid = 255;
// The page shows at most this much of the body; all of it is counted.
constexpr std::size_t kShownBytes = 65536;

struct PostState {
  long long bytes = 0;
  int batches = 0;
  std::string body;
};

PostState posts[kMaxCid + 1];

bool ValidCid(int32_t cid) { return cid >= 1 && cid <= kMaxCid; }

void Record(const std::string& line) {
  const char* name = std::getenv("POSTLOG_FILE");
  if (!name || !*name) return;
  if (std::FILE* f = std::fopen(name, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '{') out += "&#123;";
    else if (c == '}') out += "&#125;";
    else out += c;
  }
  return out;
}

}  // namespace

EXTENSION_EXPORT int32_t POSTBEGIN(char* outFile, char* request, int32_t cid, TConnectionInfo* info) {
  if (!ValidCid(cid)) return 0;
  try {
    posts[cid] = PostState{};
    Record("POSTBEGIN " + std::to_string(cid));
    return request && std::strstr(request, "refuse") ? 0 : 1;
  } catch (...) {
    return 0;
  }
}

EXTENSION_EXPORT int32_t POSTRESUME(int32_t count, const void* firstByte, int32_t cid, TConnectionInfo* info) {
  if (!ValidCid(cid) || count <= 0 || !firstByte) return 0;
  try {
    PostState& p = posts[cid];
    p.bytes += count;
    ++p.batches;
    std::size_t room = kShownBytes - std::min(kShownBytes, p.body.size());
    p.body.append(static_cast<const char*>(firstByte), std::min<std::size_t>(room, static_cast<std::size_t>(count)));
    Record("POSTRESUME " + std::to_string(cid) + " " + std::to_string(count));
  } catch (...) {
  }
  return 0;
}

EXTENSION_EXPORT int32_t POSTEND(char* outFile, int32_t cid, TConnectionInfo* info) {
  if (!ValidCid(cid) || !outFile) return 500;
  try {
    PostState& p = posts[cid];
    int closed = info ? info->Closed : 0;
    int context = info ? info->CallContext : -1;
    Record("POSTEND " + std::to_string(cid) + " bytes=" + std::to_string(p.bytes) +
           " batches=" + std::to_string(p.batches) + " closed=" + std::to_string(closed) +
           " context=" + std::to_string(context));
    std::string page = "<html><body>\n<p>Bytes: " + std::to_string(p.bytes) + "</p>\n<p>Batches: " +
                       std::to_string(p.batches) + "</p>\n<pre>" + Html(p.body) + "</pre>\n</body></html>\n";
    posts[cid] = PostState{};
    std::FILE* f = std::fopen(outFile, "wb");
    if (!f) return 500;
    bool ok = std::fwrite(page.data(), 1, page.size(), f) == page.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? 1 : 500;
  } catch (...) {
    return 500;
  }
}
