// Per-slot request and reply records of the request engine. The interface
// library reads these in place through the engine it is attached to, so
// this is the one declaration both modules compile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/shortstring.h"

class THTTP;

enum TRequestMethod : uint8_t { rmUnknown = 0, rmGet = 1, rmHead = 2, rmPost = 3 };

enum TConnState : uint8_t {
  csIdle = 0,
  csRequest = 1,
  csPostBody = 2,
  csServe = 3,
  csWaiting = 4,
  csHeader = 5,
  csFlush = 6,
  csSendFile = 7,
  csClose = 8,
};

enum TPostPhase : uint8_t { ppBegin = 0, ppResume = 1, ppEnd = 2 };

// Version codes: 0 none or unknown, 1 "HTTP/0.9", 2 "HTTP/1.0".
enum THttpVersion : uint8_t { hvNone = 0, hv09 = 1, hv10 = 2 };

// Header lines as "name=value" texts, in arrival order.
using THeaderLines = std::vector<std::string>;

// The "no length" mark lies outside the lengths a request can give
// (0 to kContentLengthMax), so no valid length is taken for it.
constexpr int64_t kContentLengthAbsent = -1;
constexpr int64_t kContentLengthMax = 2147483647;

struct TRequestRecord {
  uint8_t ExpectRequestLine;  // true until the request line was read
  THTTP* Owner;
  int32_t CID;
  uint8_t Multipart;  // Content-Type begins "multipart/form-data"
  ShortString User;      // upper-cased; emptied when the password check fails
  ShortString Password;  // upper-cased
  uint8_t Method;        // TRequestMethod
  ShortString ReceivedUrl;  // decoded URL without its leading "/"
  ShortString Request;      // working URL, rewritten by file resolution
  ShortString Referer;
  ShortString UserAgent;
  uint8_t Version;  // THttpVersion
  THeaderLines* HeaderLines;  // owned; made by InitSlotRecord
  ShortString Realm;          // always "Halvorine"
  int64_t ContentLength;      // kContentLengthAbsent when absent or not a number
  int64_t BodyReceived;
};

struct TReplyRecord {
  int32_t Status;
  ShortString FileName;
  int64_t ContentLength;  // size of FileName when the header is written
  uint8_t DirectReturn;   // written by the interface library
};
