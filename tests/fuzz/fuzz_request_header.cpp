// Feeds arbitrary bytes to ReadRequestHeader in pieces, as reads arrive, and
// checks what the parser promises: it stops at a complete or bad request,
// never keeps more than 100 header lines or a line over 255 characters, and
// hands the log only text without control characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/accesslog.h"
#include "server/bytefifo.h"
#include "server/httpparse.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool HasControl(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the size of the pieces that arrive (1 to 256), and
  // whether the rest is repeated past the FIFO's capacity (then in pieces 64
  // times larger), which reaches the limit on header lines and a FIFO
  // filled without a line end.
  size_t piece = static_cast<size_t>(data[0]) + 1;
  std::string_view once(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string bytes(once);
  if ((data[0] & 2) && !once.empty()) {
    while (bytes.size() < static_cast<size_t>(kFifoCapacity) + 1000) bytes += once;
    piece *= 64;
  }
  std::string_view input(bytes);

  static TByteFifo* fifo = nullptr;
  FifoCreate(ScratchFifo);
  FifoCreate(fifo);
  FifoReset(fifo);

  THeaderLines lines;
  TRequestRecord rec{};
  rec.HeaderLines = &lines;
  rec.ExpectRequestLine = 1;
  rec.ContentLength = kContentLengthAbsent;
  bool headers_on = (data[0] & 1) != 0;
  RequestLogHooks hooks;
  hooks.log = [](std::string_view s) { Check(!HasControl(s)); };
  hooks.log_headers = [&] { return headers_on; };

  HeaderResult r;
  size_t at = 0;
  while (at < input.size()) {
    // As a receive does: compact, then take what fits behind the queue.
    FifoCompact(fifo);
    size_t room = static_cast<size_t>(kFifoCapacity - FifoEndIndex(fifo));
    Check(room > 0);  // a full FIFO without a line was already refused
    std::string_view chunk = input.substr(at, piece < room ? piece : room);
    at += chunk.size();
    Check(FifoAppend(fifo, chunk));
    r = ReadRequestHeader(rec, fifo, hooks);
    Check(lines.size() <= kMaxHeaderLines);
    if (r.status != HeaderStatus::NotYet) break;
    Check(!InputFullWithoutLine(fifo));
  }
  for (const std::string& l : lines) Check(l.size() <= 255);
  Check(rec.ReceivedUrl == rec.Request.view());
  Check(rec.ContentLength == kContentLengthAbsent || (rec.ContentLength >= 0 && rec.ContentLength <= kContentLengthMax));
  Check(rec.Method <= rmPost && rec.Version <= hv10);
  if (r.bad()) Check(r.reason[0] != '\0');

  // The other parsing helpers on the same bytes.
  (void)HeaderValue(lines, once.substr(0, 40));
  ShortString decoded = DecodeBase64(once);
  Check(decoded.view().find('\0') == std::string_view::npos);
  Check(!HasControl(EscapeControlChars(once)));
  return 0;
}
