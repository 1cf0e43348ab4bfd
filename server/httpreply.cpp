#include "server/httpreply.h"

#include <string>

#include "foundation/serverconfig.h"
#include "foundation/settings.h"
#include "interface/tandrel.h"
#include "platform/files.h"
#include "server/fileresolve.h"
#include "server/httpunit.h"

ShortString StatusText(int32_t code) {
  switch (code) {
    case 200: return ShortString("OK");
    case 201: return ShortString("Created");
    case 202: return ShortString("Accepted");
    case 203: return ShortString("Partial Information");
    case 204: return ShortString("No Response");
    case 301: return ShortString("Moved");
    case 302: return ShortString("Found");
    case 303: return ShortString("Method");
    case 400: return ShortString("Bad Request");
    case 401: return ShortString("Unauthorized");
    case 402: return ShortString("Payment Required");
    case 403: return ShortString("Forbidden");
    case 404: return ShortString("Not Found");
    case 500: return ShortString("Internal Error");
    case 501: return ShortString("Not Implemented");
    case 502: return ShortString("Service Temporarily Overloaded");
    case 503: return ShortString("Gateway Timeout");
    default: return ShortString("");
  }
}

std::string LookupContentType(std::string_view file_name) {
  std::size_t slash = file_name.find_last_of("/\\");
  std::string_view last = slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
  std::size_t dot = last.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == last.size() || !MimeIni) return {};
  return MimeIni->ReadString(settings::kMimeTypes, std::string(last.substr(dot + 1)), "");
}

int32_t FifoRoom(TByteFifo* fifo) {
  FifoCompact(fifo);
  return FifoCapacity() - FifoEndIndex(fifo);
}

bool AppendHeaderLine(TByteFifo* fifo, std::string_view text) {
  std::string line(text.substr(0, ShortString::kMax));
  line += "\r\n";
  return FifoAppend(fifo, line);
}

void WriteResponseHeader(TReplyRecord& reply, int32_t slot, THTTP& engine) {
  TSock* c = engine.Connections[slot];
  FifoCreate(c->OutputFifo);
  FifoReset(c->OutputFifo);
  TByteFifo* out = c->OutputFifo;
  if (reply.DirectReturn) return;

  const int32_t status = reply.Status;
  const std::string status_text = std::to_string(status) + " " + StatusText(status).str();
  AppendHeaderLine(out, "HTTP/1.0 " + status_text);
  AppendHeaderLine(out, kServerLine);
  if (status == 200) {
    std::string type = LookupContentType(reply.FileName.view());
    AppendHeaderLine(out, "Content-type: " + (type.empty() ? std::string("application/unknown") : type));
    // The length of the file already open for sending, when it is: the
    // body then comes from the very file the header describes.
    reply.ContentLength = c->FileOpen ? c->FileSize : RegularFileSize(reply.FileName.str());
    AppendHeaderLine(out, "Content-length: " + std::to_string(reply.ContentLength));
  }
  if (status == 401) AppendHeaderLine(out, std::string("WWW-Authenticate: Basic realm=\"") + kRealmWord + "\"");
  if (status != 200) AppendHeaderLine(out, "Content-type: text/html");

  // The blank line and the body line must still fit after the added lines.
  const std::string body = status != 200 ? "<h1>" + status_text + "</h1>" : std::string();
  const int32_t reserve = 2 + (body.empty() ? 0 : static_cast<int32_t>(body.substr(0, ShortString::kMax).size()) + 2);
  int32_t count = 0;
  GetAddedLinesCnt(&count, slot);
  for (int32_t i = 0; i < count; ++i) {
    char buffer[512] = {};
    GetAddedLine(buffer, i, slot);
    buffer[sizeof buffer - 1] = '\0';
    std::string_view line(buffer);
    line = line.substr(0, ShortString::kMax);
    if (FifoRoom(out) - static_cast<int32_t>(line.size()) - 2 < reserve) continue;
    AppendHeaderLine(out, line);
  }
  ClearHeaderLines(slot);

  AppendHeaderLine(out, "");
  if (!body.empty()) AppendHeaderLine(out, body);
}
