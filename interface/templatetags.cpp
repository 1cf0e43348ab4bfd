// The library's own template descriptor, in the format the server hands to
// the page engine, with three tags: "I" (a named include text), "HFIELD" (a
// yes-test on a request header) and "REALMNAME" (the realm of the request).
// Nothing in the system asks for it; an outside template host may.
#include <cstring>

#include "foundation/serverconfig.h"
#include "interface/tandrelstate.h"
#include "server/httpparse.h"

using namespace tandrel;

namespace {

constexpr int32_t kTagI = 1;
constexpr int32_t kTagHField = 2;
constexpr int32_t kTagRealmName = 3;
constexpr std::size_t kTagRoom = 10;

// The descriptor with its tag table right behind it; filled at load and
// never changed afterwards.
struct TemplateBlock {
  TemplateInfo Info;
  TemplateTag Tags[kTagRoom];
};
static_assert(offsetof(TemplateBlock, Tags) == sizeof(TemplateInfo), "the tags follow the descriptor");

TemplateBlock Template;

std::string Cut(std::string text) {
  if (text.size() > 255) text.resize(255);
  return text;
}

// The request whose slot info names, when it is attached and has a slot
// object; null otherwise (an engine may pass a stale or foreign block).
THTTP* SlotServer(const TConnectionInfo* info, int32_t& cid) {
  if (!info) return nullptr;
  cid = info->Cid;
  THTTP* server = nullptr;
  CheckConnection(cid, server);
  return server;
}

std::string IncludeText(const std::string& p) {
  std::string r = ConfigIni ? Cut(ConfigIni->ReadString("Includes", p, "")) : std::string();
  if (r.empty()) r = "<BAD PARAMETER " + p + ">";
  return r;
}

std::string HeaderFieldTest(const std::string& p, const TConnectionInfo* info) {
  std::size_t blank = p.find(' ');
  if (blank == std::string::npos) return {};
  std::string_view name = std::string_view(p).substr(0, blank);
  std::string_view want = std::string_view(p).substr(blank + 1);
  if (want.empty()) return {};
  int32_t cid = 0;
  THTTP* server = SlotServer(info, cid);
  if (!server) return {};
  const THeaderLines* lines = server->Requests[cid].HeaderLines;
  if (!lines) return {};
  std::string value = Cut(UpperCase(HeaderValue(*lines, name)));
  return value.find(want) != std::string::npos ? "Y" : "";
}

std::string RealmNameText(const TConnectionInfo* info) {
  int32_t cid = 0;
  THTTP* server = SlotServer(info, cid);
  return server ? server->Requests[cid].Realm.str() : std::string();
}

// The descriptor's callback: the text for one tag met in a page, at most
// 255 characters and a NUL into out. May run on the engine's thread.
int32_t TemplateTagHandler(char* out, int32_t* slot, const char* parameter, int32_t tag_id, TConnectionInfo* info) {
  if (!out) return 0;
  out[0] = '\0';
  GuardedVoid([&] {
    std::string p = UpperCase(parameter ? std::string_view(parameter, strnlen(parameter, 255)) : "");
    std::string r;
    switch (tag_id) {
      case kTagI: r = IncludeText(p); break;
      case kTagHField: r = HeaderFieldTest(p, info); break;
      case kTagRealmName: r = RealmNameText(info); break;
      default: break;
    }
    CopyText(out, r);
  });
  return 0;
}

void PutTag(std::size_t index, int32_t id, const char* name) {
  TemplateTag& tag = Template.Tags[index];
  tag.Id = id;
  ToCString(tag.Name, name, sizeof tag.Name);
}

}  // namespace

namespace tandrel {

void FillTemplateDescriptor() {
  std::memset(&Template, 0, sizeof Template);
  Template.Info.Callback = TemplateTagHandler;
  Template.Info.TagCount = 3;
  Template.Info.Tags = Template.Tags;
  PutTag(0, kTagI, "I");
  PutTag(1, kTagHField, "HFIELD");
  PutTag(2, kTagRealmName, "REALMNAME");
}

}  // namespace tandrel

TANDREL_EXPORT TemplateInfo* GETTEMPLATE(void) { return &Template.Info; }
