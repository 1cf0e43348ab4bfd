// The page engine stand-in's tags on arbitrary pages.
// Properties: the output equals a plain reference of the tag rule ("{{NAME
// parameter}}", NAME looked up without regard to case, the parameter
// trimmed of blanks and cut to 255; unknown tags and an unclosed "{{" stay as they
// stand); a page without "{{" comes out unchanged; the callback sees only
// known tag ids and parameters of at most 255 characters.
#include <cstring>
#include <fstream>
#include <string>

#include "interface/tandrel.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int32_t MAKEFILE(char* outFile, int32_t* slot, TemplateInfo* job, TConnectionInfo* info);

namespace {

constexpr const char* kNames[] = {"TIME", "User", "x"};

// The answer of tag id i for a parameter: id and parameter between marks,
// so that the reference can tell every answer apart.
std::string AnswerText(int32_t id, std::string_view parameter) {
  return "<" + std::to_string(id) + ":" + std::string(parameter.substr(0, 200)) + ">";
}

int32_t Callback(char* answer, int32_t* /*slot*/, const char* parameter, int32_t tag_id, TConnectionInfo*) {
  std::size_t n = strnlen(parameter, 300);
  fuzz::Check(n <= 255);
  fuzz::Check(tag_id >= 1 && tag_id <= 3);
  std::string text = AnswerText(tag_id, std::string_view(parameter, n));
  std::snprintf(answer, 256, "%s", text.c_str());
  return 0;
}

int32_t Lookup(std::string_view name) {
  for (int i = 0; i < 3; ++i) {
    std::string_view known(kNames[i]);
    if (known.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < known.size(); ++k)
      same = same && std::toupper(static_cast<unsigned char>(known[k])) == std::toupper(static_cast<unsigned char>(name[k]));
    if (same) return i + 1;
  }
  return 0;
}

std::string Reference(const std::string& page) {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t open = page.find("{{", pos);
    if (open == std::string::npos) break;
    std::size_t close = page.find("}}", open + 2);
    if (close == std::string::npos) break;
    std::string body = page.substr(open + 2, close - open - 2);
    std::size_t blank = body.find(' ');
    std::string name = body.substr(0, blank);
    std::string parameter = blank == std::string::npos ? "" : body.substr(blank);
    while (!parameter.empty() && parameter.front() == ' ') parameter.erase(0, 1);
    while (!parameter.empty() && parameter.back() == ' ') parameter.pop_back();
    // The callback takes the parameter as a zero-terminated text.
    parameter = parameter.substr(0, parameter.find('\0'));
    out.append(page, pos, open - pos);
    int32_t id = name.empty() ? 0 : Lookup(name);
    if (id)
      out += AnswerText(id, std::string_view(parameter).substr(0, 255)).substr(0, 255);
    else
      out.append(page, open, close + 2 - open);
    pos = close + 2;
  }
  out.append(page, pos, std::string::npos);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string page(reinterpret_cast<const char*>(data), size);
  const std::string in = fuzz::ScratchDir() + "page.htm", out = fuzz::ScratchDir() + "out.htm";
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f << page;
  }
  struct {
    TemplateInfo info;
    TemplateTag tags[3];
  } job{};
  job.info.Callback = Callback;
  std::snprintf(job.info.InputFile, sizeof job.info.InputFile, "%s", in.c_str());
  job.info.TagCount = 3;
  job.info.Tags = job.tags;
  for (int i = 0; i < 3; ++i) {
    job.tags[i].Id = i + 1;
    std::snprintf(job.tags[i].Name, sizeof job.tags[i].Name, "%s", kNames[i]);
  }
  char out_name[256];
  std::snprintf(out_name, sizeof out_name, "%s", out.c_str());
  int32_t slot = 1;
  TConnectionInfo conn{};
  fuzz::Check(MAKEFILE(out_name, &slot, &job.info, &conn) == 0);
  std::string got = fuzz::Slurp(out);
  fuzz::Check(got == Reference(page));
  if (page.find("{{") == std::string::npos) fuzz::Check(got == page);
  return 0;
}
