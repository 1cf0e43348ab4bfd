// mkqxsample <QX.DLL> <directory>: makes a small sample BBS in the
// directory through the library's own entries, as a tool would. The
// records' bytes that the managers do not own carry a pattern, so that a
// change to them shows.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "interface/tandrel.h"

namespace {

struct ShortBuf {
  uint8_t b[256] = {};
  explicit ShortBuf(const std::string& s) {
    b[0] = static_cast<uint8_t>(s.size());
    std::memcpy(b + 1, s.data(), s.size());
  }
};

void PutText(uint8_t* field, size_t width, const std::string& s) {
  field[0] = static_cast<uint8_t>(s.size() < width ? s.size() : width - 1);
  std::memcpy(field + 1, s.data(), field[0]);
}

void Pattern(void* record, size_t size, int seed) {
  auto* p = static_cast<uint8_t*>(record);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(0x40 + (i * 7 + seed) % 61);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mkqxsample <QX.DLL> <directory>\n");
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "mkqxsample: %s\n", dlerror());
    return 1;
  }
  auto init = reinterpret_cast<TQxOrteluneInit>(dlsym(lib, "OrteluneInit"));
  auto add_sub = reinterpret_cast<TQxAddSubboard>(dlsym(lib, "AddSubboard"));
  auto add_dir = reinterpret_cast<TQxAddDirectory>(dlsym(lib, "AddDirectory"));
  auto done = reinterpret_cast<TQxOrteluneDone>(dlsym(lib, "OrteluneDone"));
  std::string home = argv[2];
  ::mkdir(home.c_str(), 0777);
  std::FILE* marker = std::fopen((home + "/CONFIG.QX2").c_str(), "w");
  if (!init || !add_sub || !add_dir || !done || !marker) {
    std::fprintf(stderr, "mkqxsample: cannot make %s\n", home.c_str());
    return 1;
  }
  std::fputs("QXBBS sample board\n", marker);
  std::fclose(marker);

  ShortBuf path(home), empty(""), one("1");
  int32_t bbs = init(path.b, empty.b, empty.b, one.b);
  struct Sub {
    const char* name;
    const char* description;
    int32_t max_messages;
    int16_t max_length;
  } subs[] = {{"GENERAL", "General discussion", 1000, 400},
              {"ANNOUNCE", "Announcements from the sysop", 200, 800},
              {"TECHNICAL", "Technical help and questions", 5000, 1200}};
  int seed = 0;
  bool ok = bbs != 0;
  for (const Sub& s : subs) {
    TBbsSubboardRecord r;
    Pattern(&r, sizeof r, ++seed);
    std::memset(r.Description, 0, sizeof r.Description);
    PutText(r.Description, sizeof r.Description, s.description);
    r.MaxMessages = s.max_messages;
    r.MaxLength = s.max_length;
    r.AllowAnonymous = seed == 2;
    r.AutoPurge = 1;
    r.Compression = seed != 3;
    ok = ok && (add_sub(bbs, ShortBuf(s.name).b, &r, empty.b) & 0xFF);
  }
  struct Dir {
    const char* name;
    const char* description;
    const char* path;
    uint8_t cdrom;
  } dirs[] = {{"UPLOADS", "New uploads", "/srv/bbs/uploads/", 0},
              {"DOCS", "Documents and manuals", "/srv/bbs/docs/", 0},
              {"GAMES", "Games on the CD-ROM", "/mnt/cdrom/games/", 1}};
  for (const Dir& d : dirs) {
    TBbsDirectoryHeader h;
    Pattern(&h, sizeof h, ++seed);
    std::memset(h.Description, 0, sizeof h.Description);
    PutText(h.Description, sizeof h.Description, d.description);
    std::memset(h.Path, 0, sizeof h.Path);
    PutText(h.Path, sizeof h.Path, d.path);
    h.CdRom = d.cdrom;
    ok = ok && (add_dir(bbs, ShortBuf(d.name).b, &h, empty.b) & 0xFF);
  }
  done(bbs);
  if (!ok) {
    std::fprintf(stderr, "mkqxsample: the library refused the sample entries\n");
    return 1;
  }
  return 0;
}
