// The response header: the status line, the server's header lines, the
// lines extension libraries added for the slot, and for answers other than
// 200 a one-line HTML body. Also the reason texts and the content-type
// lookup in MIME.INI.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/shortstring.h"
#include "server/bytefifo.h"
#include "server/httprecords.h"

class THTTP;

inline constexpr char kServerLine[] = "Server: Halvorine/2.41";
inline constexpr char kRealmWord[] = "Halvorine";

// The reason text of a status code; empty for a code not in the table.
ShortString StatusText(int32_t code);

// The MIME type that [MimeTypes] of MIME.INI gives for the extension of
// the file name's last component (without its dot); empty for a name
// without an extension, or an extension not listed.
std::string LookupContentType(std::string_view file_name);

// Appends one header line: text cut to 255 characters, then CR LF, so a
// line never loses its end. False when it does not fit.
bool AppendHeaderLine(TByteFifo* fifo, std::string_view text);

// Bytes free behind the queued ones (after compaction).
int32_t FifoRoom(TByteFifo* fifo);

// Fills the slot's output FIFO with the answer's header (nothing when the
// reply's DirectReturn is set). For 200 the reply's ContentLength becomes
// the size of the file open for sending in the slot, or, when none is, the
// size of the file the name shows. Added lines that would leave no room
// for the blank line and the body line are dropped, so the header is
// always complete.
void WriteResponseHeader(TReplyRecord& reply, int32_t slot, THTTP& engine);
