// Loads a library by the name given on the command line, as the system loads
// its fixed libraries, and prints which file was loaded:
//   program <ProgramDirectory()>
//   loaded <path of the file> <answer>
// or "error <loader text>" (exit code 1).
#include <dlfcn.h>

#include <cstdio>

#include "platform/dynlib.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::printf("program %s\n", platform::ProgramDirectory().c_str());
  platform::LibraryHandle lib = platform::LoadLibrary(argv[1]);
  if (!lib) {
    std::printf("error %s\n", platform::LastLoadError().c_str());
    return 1;
  }
  auto answer = reinterpret_cast<int (*)()>(platform::GetProcAddress(lib, "TestLibAnswer"));
  Dl_info info{};
  if (!answer || !::dladdr(reinterpret_cast<void*>(answer), &info)) return 3;
  std::printf("loaded %s %d\n", info.dli_fname, answer());
  platform::FreeLibrary(lib);
  return 0;
}
