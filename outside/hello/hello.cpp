// HELLO.DLL: a sample extension library that answers "/$HELLO.DLL" with a
// page showing the request, read back through the interface library.
//
// An extension library exports, extern "C", the entry points it serves:
//   int32_t MAKEPAGE(char* outFile, char* request, TConnectionInfo* info)
// The server calls it on its window thread for a GET or HEAD of a URL
// beginning "/$HELLO", and for a "{{$RUN $HELLO...}}" tag of a page. Write
// the page into the file outFile names and answer 1 (sent with 200), 0 (the
// server answers 404), 2 (finishing later, see LATER.DLL) or an HTTP status
// code. outFile and request are writable buffers of 256 bytes; info->Cid is
// the connection slot that the interface library's exports take. Never let
// an exception leave an entry point.
//
// The page carries the tag {{$RESOURCE 2}} (sockets opened), which the page
// engine replaces. A request text containing "noengine" sets SkipEngine, so
// the page is sent exactly as written.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "interface/tandrel.h"

#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string Html(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      // Braces are written as entities so that text from the client never
      // reads as a template tag.
      case '{': out += "&#123;"; break;
      case '}': out += "&#125;"; break;
      default: out += *p;
    }
  }
  return out;
}

// One line "<p>label: value</p>"; the value is "(not available)" when the
// export did not answer 0.
std::string Field(const char* label, TConnStatus status, const char* value) {
  return std::string("<p>") + label + ": " + (status == 0 ? Html(value) : std::string("(not available)")) + "</p>\n";
}

std::string Page(const char* request, TConnectionInfo* info) {
  int32_t cid = info ? info->Cid : 0;
  char buffer[256];
  std::string page = "<html><head><title>Hello</title></head><body>\n<h1>Hello from HELLO.DLL</h1>\n";
  page += "<p>Request text: " + Html(request) + "</p>\n";
  buffer[0] = '\0';
  page += Field("Method", GetMethod(buffer, cid), buffer);
  buffer[0] = '\0';
  page += Field("Request", GetRequest(buffer, cid), buffer);
  buffer[0] = '\0';
  page += Field("Version", GetHTTPVersion(buffer, cid), buffer);
  buffer[0] = '\0';
  page += Field("Client", GetRemoteIp(buffer, cid), buffer);
  int32_t count = 0;
  if (GetHeaderCnt(&count, cid) == 0) {
    page += "<p>Header lines: " + std::to_string(count) + "</p>\n<ul>\n";
    for (int32_t i = 0; i < count; ++i) {
      buffer[0] = '\0';
      if (GetHeaderLine(buffer, i, cid) == 0) page += "<li>" + Html(buffer) + "</li>\n";
    }
    page += "</ul>\n";
  }
  page += "<p>Call context: " + std::to_string(info ? info->CallContext : -1) + "</p>\n";
  page += "<p>Sockets opened: {{$RESOURCE 2}}</p>\n</body></html>\n";
  return page;
}

}  // namespace

EXTENSION_EXPORT int32_t MAKEPAGE(char* outFile, char* request, TConnectionInfo* info) {
  if (!outFile || !request) return 500;
  try {
    if (info && std::strstr(request, "noengine")) info->SkipEngine = 1;
    std::string page = Page(request, info);
    std::FILE* f = std::fopen(outFile, "wb");
    if (!f) return 500;
    bool ok = std::fwrite(page.data(), 1, page.size(), f) == page.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? 1 : 500;
  } catch (...) {
    return 500;
  }
}
