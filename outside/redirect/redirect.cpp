// REDIRECT.DLL: a sample extension library that answers "/$REDIRECT.DLL?url"
// with "302 Found" and a Location line naming url ("/" when the request has
// no "?" part).
//
// A library adds header lines to its answer with the interface library's
// AddHeaderLine(line, cid), without the line end; the server writes them
// into the header after its own lines. Answering a status code other than
// 0, 1 and 2 makes the server send that status with a short HTML body, so
// no output file is needed.
#include <cstdint>
#include <cstring>
#include <string>

#include "interface/tandrel.h"

#define EXTENSION_EXPORT extern "C" __attribute__((visibility("default")))

EXTENSION_EXPORT int32_t MAKEPAGE(char* outFile, char* request, TConnectionInfo* info) {
  if (!request || !info) return 500;
  try {
    const char* query = std::strchr(request, '?');
    std::string target = query && query[1] ? query + 1 : "/";
    // A line end in the target would start a header line of the client's
    // choosing.
    for (char c : target)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return 400;
    if (AddHeaderLine(("Location: " + target).c_str(), info->Cid) != 0) return 500;
    return 302;
  } catch (...) {
    return 500;
  }
}
