#include "platform/dynlib.h"

#include <dlfcn.h>

#include "platform/files.h"

namespace platform {
namespace {

thread_local std::string last_error;

void TakeLoaderError(const char* fallback) {
  const char* text = ::dlerror();
  last_error = text ? text : fallback;
}

LibraryHandle Open(const std::string& path) {
  ::dlerror();
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) TakeLoaderError("cannot load library");
  return static_cast<LibraryHandle>(h);
}

}  // namespace

LibraryHandle LoadLibrary(const std::string& name) {
  // dlopen(NULL) or dlopen("") would hand back the main program.
  if (name.empty()) {
    last_error = "empty library name";
    return nullptr;
  }
  if (name.find('/') != std::string::npos) return Open(name);
  if (std::string in_program = ProgramDirectory() + name; FileExists(in_program)) return Open(in_program);
  if (std::string in_current = AddTrailingSlash(GetCurrentDir()) + name; FileExists(in_current)) return Open(in_current);
  return Open(name);
}

void* GetProcAddress(LibraryHandle library, const char* name) {
  if (!library || !name) {
    last_error = "invalid library handle or symbol name";
    return nullptr;
  }
  ::dlerror();
  void* p = ::dlsym(library, name);
  if (!p) TakeLoaderError("symbol not found");
  return p;
}

bool FreeLibrary(LibraryHandle library) {
  if (!library) {
    last_error = "invalid library handle";
    return false;
  }
  ::dlerror();
  if (::dlclose(library) == 0) return true;
  TakeLoaderError("cannot unload library");
  return false;
}

std::string LastLoadError() { return last_error; }

}  // namespace platform
