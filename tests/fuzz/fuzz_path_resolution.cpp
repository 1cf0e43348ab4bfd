// Turning a decoded URL into a file, with the checks made before it.
// Properties: a URL that passes the ".." and control-character check and
// resolves to an existing file names a file inside the home directory or
// inside the alias directory (the full path, "." and ".." taken back as the
// file system does); a file reached through the home directory whose first
// directory begins with "&" is reached only by a URL the "&" rule asks a
// login for; a name too long to look up is never looked up.
#include <fstream>
#include <string>

#include "foundation/serverconfig.h"
#include "platform/profile.h"
#include "server/fileresolve.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Tree {
  std::string home, images;
  Tree() {
    const std::string& root = fuzz::ScratchDir();
    home = root + "home/";
    images = root + "images/";
    for (const char* d : {"home/sub/deep", "home/&club", "home/&club/inner", "home/docs", "images/&x", "secret"})
      std::filesystem::create_directories(root + d);
    for (const char* f : {"home/index.html", "home/a.txt", "home/page.htm", "home/sub/index.htm", "home/sub/deep/b.txt",
                          "home/&club/c.txt", "home/&club/index.html", "home/&club/inner/d.txt", "home/docs/e.html",
                          "images/index.html", "images/i.gif", "images/&x/j.txt", "secret/s.txt", "outside.txt"})
      std::ofstream(root + f) << "x";
    std::ofstream(root + "KORRIDAN.INI") << "[Aliases]\r\nPICS=" << images << "\r\n";
    ConfigIni = new platform::IniFile(root + "KORRIDAN.INI");
  }
};

bool Inside(const std::string& file, const std::string& dir) { return file.rfind(FullPath(dir), 0) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Tree tree;
  std::string url(reinterpret_cast<const char*>(data), std::min<size_t>(size, 255));
  if (UrlIsUnsafe(url)) return 0;
  TFileResolution r = ResolveFileName(tree.home, url);
  if (r.TooLong) {
    fuzz::Check(r.FileName.size() > 255);
    return 0;
  }
  if (!IsRegularFile(r.FileName)) return 0;
  std::string full = FullPath(r.FileName);
  fuzz::Check(Inside(full, tree.home) || Inside(full, tree.images));
  if (Inside(full, tree.home)) {
    std::string rest = full.substr(FullPath(tree.home).size());
    std::size_t slash = rest.find('/');
    // A file in a directory of the home directory whose name begins "&".
    if (slash != std::string::npos && rest.front() == '&') fuzz::Check(UrlNeedsLogin(url));
  }
  return 0;
}
