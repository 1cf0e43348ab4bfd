// Name lists (SECGROUPS, GROUPS, USERS, IPADDR blobs).
// Properties: reading gives items without carriage returns or NULs, each at
// most 255 bytes; writing what was read and reading it again gives the same
// items (a stored list survives a round trip through the tools); writing
// any list keeps exactly its items that hold no carriage return or NUL, cut
// to 254 characters, in order.
#include <string>
#include <vector>

#include "foundation/securitystore.h"
#include "platform/dbtables.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::vector<std::string> Read(const std::string& bytes) {
  platform::BlobReader blob(bytes);
  std::vector<std::string> list;
  ReadNameList(blob, list, nullptr);
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> list = Read(bytes);
  for (const std::string& item : list) {
    fuzz::Check(item.size() <= 255);
    fuzz::Check(item.find_first_of(std::string_view("\r\0", 2)) == std::string::npos);
  }
  std::string written;
  WriteNameList(written, list);
  std::vector<std::string> cut = list;
  for (std::string& item : cut)
    if (item.size() > 254) item.resize(254);
  fuzz::Check(Read(written) == cut);

  // Any list: the input split at byte 0x01 into items that may hold
  // anything.
  std::vector<std::string> any;
  fuzz::Fields fields(data, size);
  for (int i = 0; i < 16; ++i) {
    std::string_view f = fields.Next();
    if (f.empty() && i > 0) break;
    any.emplace_back(f);
  }
  std::vector<std::string> kept;
  for (const std::string& item : any)
    if (item.find_first_of(std::string_view("\r\0", 2)) == std::string::npos) kept.push_back(item.substr(0, 254));
  written.clear();
  WriteNameList(written, any);
  fuzz::Check(Read(written) == kept);
  return 0;
}
