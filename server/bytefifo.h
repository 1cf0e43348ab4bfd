// The socket layer's fixed-size byte queue. Each connection slot has one for
// received bytes and one for the response header; a process-wide scratch
// FIFO stages every receive and bounces compaction.
#pragma once

#include <cstdint>
#include <string_view>

#include "foundation/shortstring.h"

constexpr int32_t kFifoCapacity = 32767;
constexpr int32_t kFifoCompactAt = 16384;

struct TByteFifo {
  uint8_t Data[kFifoCapacity];
  int32_t Count;  // bytes queued
  int32_t Start;  // 1-based index in Data of the first queued byte
};

// Process-wide (per module) staging FIFO; made by the socket unit's start.
extern TByteFifo* ScratchFifo;

// Allocates an empty FIFO into p when p is nil or force is set; force never
// frees the FIFO that was there.
void FifoCreate(TByteFifo*& p, bool force = false);
void FifoReset(TByteFifo* p);  // nil: nothing
void FifoFree(TByteFifo*& p);
constexpr int32_t FifoCapacity() { return kFifoCapacity; }
inline int32_t FifoEndIndex(const TByteFifo* f) { return f->Start + f->Count - 1; }
// Moves the queued bytes to the front once Start has reached 16384.
void FifoCompact(TByteFifo* f);
// Compacts, then appends text when it fits behind the queued bytes.
bool FifoAppend(TByteFifo* f, std::string_view text);
// FifoAppend of text and CR LF; a text too long to keep its line end within
// 255 characters is refused whole rather than sent without one.
bool FifoAppendLine(TByteFifo* f, std::string_view text);
// Copies src's first Count bytes from the start of its Data behind dst's
// queued bytes. The caller guarantees the room (and src->Start == 1).
void FifoAppendFifo(TByteFifo* dst, const TByteFifo* src);
// 1-based position, counted from Start, of the first queued byte equal to
// value; 0 when none.
int32_t FifoFindByte(const TByteFifo* f, uint8_t value);

// Takes one complete line (through its LF) into line, keeping at most
// max_len characters of it; a longer line is cut, and its rest up to the LF
// is taken too, so one line never reads as two. A final LF and then a CR are
// removed from what is kept. False with an empty line when no LF is queued;
// the partial line then stays queued. *was_cut tells whether the line was
// longer than max_len (its LF and CR not counted).
bool FifoTakeLine(TByteFifo* f, ShortString& line, int32_t max_len = 255, bool* was_cut = nullptr);
