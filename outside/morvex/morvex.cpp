// MORVEX32.DLL: a stand-in for the server's page engine, and an example for
// people who write their own.
//
// The server hands every 200 answer of type "text/html" to the engine with
// a template descriptor (TemplateInfo, see interface/tandrel.h): the page
// to read (InputFile), a tag table and a callback. The engine writes the
// expanded page to the output file it is given; the server sends that file
// instead of the page.
//
// Entries (all extern "C"; none of them throws):
//   int32_t MAKEFILE(char* outFile, int32_t* slot, TemplateInfo* job,
//                    TConnectionInfo* info)
//       Expands at once, on the caller's thread. The result is not used.
//   int32_t MAKEFILETHREAD(uint32_t window, int32_t slot, char* outFile,
//                          int32_t* cidField, TemplateInfo* job,
//                          TConnectionInfo* info)
//       Starts the expansion in a thread of this library and returns 0; the
//       thread calls the callback from there and, when the output file is
//       complete, posts HALV_WM_ENGINE_DONE (wParam slot) to window. -1
//       when nothing was started (the server then calls MAKEFILE). With the
//       environment variable MORVEX_THREADS=0 it always answers -1.
//   int32_t GETHEAPSIZE(void)
//       The bytes of page text the engine holds right now (0 when idle).
//
// Tag syntax: {{NAME parameter}}. NAME runs up to the first blank or the
// closing "}}" and is looked up in the descriptor's tag table, ignoring
// case; the parameter is the rest up to "}}", without the blanks around
// it, at most 255 characters. A known tag is replaced by the callback's
// answer; an unknown one, or a "{{" without its "}}", is left as it
// stands. An answer of the form "<$F file>" is replaced by the content of
// that file (nothing when it cannot be read): that is how the server's
// "$RUN" tag hands over the page an extension library wrote. Answers are
// not expanded again.
//
// With the server's descriptor:  {{$RESOURCE 2}}  {{$RUN $HELLO.DLL?x=1}}
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "interface/tandrel.h"
#include "outside/workers.h"

#define MORVEX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A descriptor from outside may be damaged; the table is read only this far.
constexpr int32_t kMaxTags = 1000;

std::atomic<int64_t> held_bytes{0};

bool ReadFile(const std::string& path, std::string& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  data = s.str();
  return !in.bad();
}

// Its own ASCII folding: outside code links nothing of the server's.
char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The id of the tag called name in the descriptor's table; false when none.
bool FindTag(const TemplateInfo& job, std::string_view name, int32_t& id) {
  if (!job.Tags || job.TagCount <= 0) return false;
  int32_t count = job.TagCount < kMaxTags ? job.TagCount : kMaxTags;
  for (int32_t i = 0; i < count; ++i) {
    const TemplateTag& tag = job.Tags[i];
    if (SameNoCase(std::string_view(tag.Name, strnlen(tag.Name, sizeof tag.Name - 1)), name)) {
      id = tag.Id;
      return true;
    }
  }
  return false;
}

std::string Answer(const TemplateInfo& job, int32_t* slot, std::string_view parameter, int32_t id,
                   TConnectionInfo* info) {
  if (!job.Callback) return {};
  char answer[256] = {};
  std::string p(parameter.substr(0, 255));
  job.Callback(answer, slot, p.c_str(), id, info);
  std::string text(answer, strnlen(answer, 255));
  if (text.size() > 5 && text.compare(0, 4, "<$F ") == 0 && text.back() == '>') {
    std::string included;
    ReadFile(text.substr(4, text.size() - 5), included);
    return included;
  }
  return text;
}

std::string Expand(const std::string& page, const TemplateInfo& job, int32_t* slot, TConnectionInfo* info) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t open = page.find("{{", pos);
    if (open == std::string::npos) break;
    std::size_t close = page.find("}}", open + 2);
    if (close == std::string::npos) break;
    std::string_view body(page.data() + open + 2, close - open - 2);
    std::size_t blank = body.find(' ');
    std::string_view name = body.substr(0, blank);
    std::string_view parameter = blank == std::string_view::npos ? std::string_view() : Trim(body.substr(blank));
    out.append(page, pos, open - pos);
    int32_t id = 0;
    if (!name.empty() && FindTag(job, name, id))
      out += Answer(job, slot, parameter, id, info);
    else
      out.append(page, open, close + 2 - open);
    pos = close + 2;
  }
  out.append(page, pos, std::string::npos);
  return out;
}

// Reads the job's page, expands it and writes the result. 0 on success.
int32_t MakeFile(const std::string& out_name, int32_t* slot, const TemplateInfo& job, TConnectionInfo* info) {
  std::string in_name(job.InputFile, strnlen(job.InputFile, sizeof job.InputFile - 1));
  std::string page;
  if (out_name.empty() || !ReadFile(in_name, page)) return 1;
  int64_t held = static_cast<int64_t>(page.size());
  held_bytes += held;
  std::string result = Expand(page, job, slot, info);
  held_bytes -= held;
  std::ofstream out(out_name, std::ios::binary | std::ios::trunc);
  out.write(result.data(), static_cast<std::streamsize>(result.size()));
  out.close();
  return out ? 0 : 1;
}

Workers workers;

}  // namespace

MORVEX_EXPORT int32_t MAKEFILE(char* outFile, int32_t* slot, TemplateInfo* job, TConnectionInfo* info) {
  if (!outFile || !job) return 1;
  try {
    return MakeFile(std::string(outFile, strnlen(outFile, 127)), slot, *job, info);
  } catch (...) {
    return 1;
  }
}

MORVEX_EXPORT int32_t MAKEFILETHREAD(uint32_t window, int32_t slot, char* outFile, int32_t* cidField,
                                     TemplateInfo* job, TConnectionInfo* info) {
  if (!outFile || !job) return -1;
  const char* threads = std::getenv("MORVEX_THREADS");
  if (threads && std::strcmp(threads, "0") == 0) return -1;
  try {
    // The descriptor, the slot reference and the info block belong to the
    // server's slot and stay valid until the completion has been handled.
    std::string out_name(outFile, strnlen(outFile, 127));
    bool started = workers.Start([=] {
      try {
        MakeFile(out_name, cidField, *job, info);
      } catch (...) {
      }
      HalvPostMessage(window, HALV_WM_ENGINE_DONE, static_cast<uintptr_t>(slot), 0);
    });
    return started ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

MORVEX_EXPORT int32_t GETHEAPSIZE(void) {
  int64_t held = held_bytes.load();
  return held > INT32_MAX ? INT32_MAX : static_cast<int32_t>(held);
}
