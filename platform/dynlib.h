// Dynamic libraries over the system loader (dlopen), with the Windows search
// order for plain names.
#pragma once

#include <string>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

// An opaque module handle; nullptr means failure.
struct LibraryModule;
using LibraryHandle = LibraryModule*;

// Loads a library, binding all its symbols at once and keeping them local
// to it (RTLD_NOW | RTLD_LOCAL).
// - A name containing "/" is loaded from exactly that path (relative paths
//   from the current directory).
// - A plain name is looked for as a file in the program directory, then in
//   the current directory, then left to the system search (LD_LIBRARY_PATH,
//   the cache, the default directories). The first file found is the one
//   loaded; if it cannot be loaded, the search stops there.
// Loading a library again returns the same handle and counts one more use.
// On failure returns nullptr and LastLoadError() says why.
LibraryHandle LoadLibrary(const std::string& name);

// The address of an exported symbol; nullptr when there is none.
void* GetProcAddress(LibraryHandle library, const char* name);

// Drops one use of the library. The system loader may keep the code mapped
// (a library that is loaded again may run its old code). True on success.
bool FreeLibrary(LibraryHandle library);

// The loader's text for the last failure of the calls above on this thread
// (empty before the first failure), e.g. for "LoadLibrary Error: " + text.
std::string LastLoadError();

}  // namespace platform
HALV_EXPORT_END
