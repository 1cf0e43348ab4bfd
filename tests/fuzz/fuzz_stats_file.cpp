// Loading STATS.DAT from arbitrary bytes.
// Properties: loading never fails; every history is left in range
// (0 <= ShownBuckets <= BucketCount, OpenBucket within the window); a record
// is taken only when its shape matches; and what was loaded survives a save
// and a second load byte for byte, so a damaged file can never grow into a
// different one across restarts.
#include <fstream>
#include <vector>

#include "console/statshistory.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Console {
  TStatHistory hits[4], logins[4], connections[4], users[4];
  Console() { InitConsoleHistories(hits, logins, connections, users); }
  std::array<TStatHistory*, kStatFileRecords> Order() { return StatFileOrder(hits, logins, connections, users); }
};

std::vector<uint8_t> Saved(Console& c) {
  std::vector<uint8_t> out;
  for (TStatHistory* h : c.Order()) h->Save(out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The clock stands still, so that a record taken once is taken again.
  static const bool frozen = [] { return setenv("HALVORINE_CLOCK", "2026-12-09 10:00:00", 1) == 0; }();
  fuzz::Check(frozen);
  const std::string file = fuzz::ScratchDir() + "STATS.DAT";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  Console first;
  TStatLoadResult r = LoadStatHistories(file, first.Order());
  fuzz::Check(r.Taken >= 0 && r.Taken <= static_cast<int32_t>(kStatFileRecords));
  fuzz::Check(r.Opened && r.Closed);
  for (TStatHistory* h : first.Order()) {
    fuzz::Check(h->ShownBuckets >= 0 && h->ShownBuckets <= h->BucketCount);
    fuzz::Check(h->OpenBucket >= 0 && h->OpenBucket <= h->BucketCount);
  }
  std::vector<uint8_t> once = Saved(first);
  fuzz::Check(once.size() == kStatFileSize);

  SaveStatHistories(file, first.Order());
  Console second;
  TStatLoadResult again = LoadStatHistories(file, second.Order());
  fuzz::Check(again.Error.empty());
  fuzz::Check(Saved(second) == once);
  return 0;
}
