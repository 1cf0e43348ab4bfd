// Reading a request's line and header from a slot's input FIFO into its
// request record, and the small conversions the engine and the interface
// library share: method and version codes, Base64, header-value lookup.
//
// ReadRequestHeader is resumable: the record keeps what was read, and each
// call takes the whole lines that have arrived since the last one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/shortstring.h"
#include "server/bytefifo.h"
#include "server/httprecords.h"

// Decodes the %XX escapes of text (DecodeUrlEscapes), then moves the part
// before the first separator into token and deletes it and the separator
// from text. Without a separator the whole text becomes the token and text
// becomes empty. True when a separator was found.
bool SplitToken(ShortString& text, ShortString& token, char separator);

// Method code of the text, compared in upper case: 1 GET, 2 HEAD, 3 POST,
// anything else 0.
uint8_t ParseMethod(std::string_view text);
// "GET", "HEAD", "POST", or empty for any other code.
ShortString MethodText(uint8_t method);
// Version code of the text, compared in upper case: 1 "HTTP/0.9",
// 2 "HTTP/1.0", anything else 0.
uint8_t ParseVersion(std::string_view text);
// "HTTP/0.9", "HTTP/1.0", or empty for any other code.
ShortString VersionText(uint8_t version);

// Lenient Base64 as the credentials are decoded: every input character
// takes one place of a group of four, whatever it is ("=" and characters
// outside the alphabet add no bits); each group, a last partial one too,
// gives three bytes; the output is cut at its first zero byte and to 255.
ShortString DecodeBase64(std::string_view text);

// The value of the first stored "name=value" header line whose text before
// its first "=" equals name in ASCII case folding; empty when there is none.
// The view points into lines. Lines without "=" never match.
std::string_view HeaderValue(const THeaderLines& lines, std::string_view name);

// How the engine logs while reading a request; both may be empty.
struct RequestLogHooks {
  // One line to the engine's log (its HttpLogProc with the slot and socket).
  // Control characters are already written as %XX.
  std::function<void(std::string_view)> log;
  // Whether header lines are logged too: [Log] Local and Headers, read for
  // each line. Empty means no.
  std::function<bool()> log_headers;
};

enum class HeaderStatus : uint8_t {
  NotYet,      // no further whole line is waiting; call again on more input
  Complete,    // the header is read; lines after it stay in the FIFO
  BadRequest,  // answer 400 and close; reason says why
};

struct HeaderResult {
  HeaderStatus status = HeaderStatus::NotYet;
  const char* reason = "";  // one sentence for the log when BadRequest

  bool complete() const { return status == HeaderStatus::Complete; }
  bool bad() const { return status == HeaderStatus::BadRequest; }
};

constexpr int32_t kMaxLineLength = 255;
constexpr std::size_t kMaxHeaderLines = 100;

// Takes the whole lines waiting in input into rec (ExpectRequestLine says
// whether the next is the request line). The request line gives Method,
// Request and Version; header lines are read after a version that begins
// "HTTP/1." and stored with their first ": " turned into "=". An empty line
// ends the header. A header line longer than 255 characters is kept cut; a
// request line that long, more than 100 header lines, or a full FIFO that
// holds no whole line is a bad request. Whatever the outcome, ReceivedUrl,
// Multipart, ContentLength, User, Password, Referer and UserAgent are then
// derived again from what was read.
HeaderResult ReadRequestHeader(TRequestRecord& rec, TByteFifo* input, const RequestLogHooks& hooks);

// True when input has no room left for the next receive and holds no line
// feed: such a request can never complete. The receive leaves the FIFO
// uncompacted while Start is below kFifoCompactAt, so the room counts from
// the end index then.
bool InputFullWithoutLine(const TByteFifo* input);

// Content-Length as the engine takes it: decimal digits, blanks around them
// allowed; anything else (empty, a sign, other characters, above
// kContentLengthMax) is kContentLengthAbsent.
int64_t ParseContentLength(std::string_view value);
