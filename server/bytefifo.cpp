#include "server/bytefifo.h"

#include <cstring>
#include <new>

TByteFifo* ScratchFifo = nullptr;

void FifoCreate(TByteFifo*& p, bool force) {
  if (p && !force) return;
  p = new TByteFifo;
  p->Count = 0;
  p->Start = 1;
}

void FifoReset(TByteFifo* p) {
  if (!p) return;
  p->Count = 0;
  p->Start = 1;
}

void FifoFree(TByteFifo*& p) {
  delete p;
  p = nullptr;
}

void FifoCompact(TByteFifo* f) {
  if (f->Start < kFifoCompactAt) return;
  // Source and destination overlap only when the queue is longer than its
  // offset, which compaction at half the capacity rules out; memmove keeps
  // it safe without the bounce when no scratch FIFO exists.
  if (ScratchFifo && ScratchFifo != f) {
    FifoReset(ScratchFifo);
    std::memcpy(ScratchFifo->Data, f->Data + f->Start - 1, static_cast<size_t>(f->Count));
    std::memcpy(f->Data, ScratchFifo->Data, static_cast<size_t>(f->Count));
  } else {
    std::memmove(f->Data, f->Data + f->Start - 1, static_cast<size_t>(f->Count));
  }
  f->Start = 1;
}

bool FifoAppend(TByteFifo* f, std::string_view text) {
  FifoCompact(f);
  int32_t end = FifoEndIndex(f);
  if (static_cast<int64_t>(kFifoCapacity) - end < static_cast<int64_t>(text.size())) return false;
  if (!text.empty()) std::memcpy(f->Data + end, text.data(), text.size());
  f->Count += static_cast<int32_t>(text.size());
  return true;
}

bool FifoAppendLine(TByteFifo* f, std::string_view text) {
  if (text.size() > 253) return false;
  char line[255];
  std::memcpy(line, text.data(), text.size());
  line[text.size()] = '\r';
  line[text.size() + 1] = '\n';
  return FifoAppend(f, std::string_view(line, text.size() + 2));
}

void FifoAppendFifo(TByteFifo* dst, const TByteFifo* src) {
  int32_t end = FifoEndIndex(dst);
  int32_t n = src->Count;
  if (n <= 0) return;
  // The caller guarantees the room; never write past the block all the same.
  if (n > kFifoCapacity - end) n = kFifoCapacity - end;
  std::memcpy(dst->Data + end, src->Data, static_cast<size_t>(n));
  dst->Count += n;
}

int32_t FifoFindByte(const TByteFifo* f, uint8_t value) {
  if (f->Count <= 0) return 0;
  const void* hit = std::memchr(f->Data + f->Start - 1, value, static_cast<size_t>(f->Count));
  if (!hit) return 0;
  return static_cast<int32_t>(static_cast<const uint8_t*>(hit) - (f->Data + f->Start - 1)) + 1;
}

bool FifoTakeLine(TByteFifo* f, ShortString& line, int32_t max_len, bool* was_cut) {
  line.clear();
  if (was_cut) *was_cut = false;
  if (!f) return false;
  int32_t n = FifoFindByte(f, '\n');
  if (n == 0) return false;
  if (max_len > 255) max_len = 255;
  if (max_len < 0) max_len = 0;
  const char* first = reinterpret_cast<const char*>(f->Data + f->Start - 1);
  // The line's own length, without its LF and a CR before it.
  int32_t content = n - 1;
  if (content > 0 && first[content - 1] == '\r') --content;
  int32_t keep = content < max_len ? content : max_len;
  line.assign(std::string_view(first, static_cast<size_t>(keep)));
  if (was_cut) *was_cut = content > max_len;
  f->Start += n;
  f->Count -= n;
  return true;
}
