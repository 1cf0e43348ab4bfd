// A shared library with an allocation guard of its own, as the interface
// library has: its blocks move its count, not the program's.
#include <cstddef>
#include <cstdint>

#include "foundation/allocguard.h"

#define GUARD_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

GUARD_MODULE_EXPORT char* GuardModuleNew(std::size_t size) { return new char[size]; }
GUARD_MODULE_EXPORT void GuardModuleDelete(char* block) { delete[] block; }
GUARD_MODULE_EXPORT std::int64_t GuardModuleBytes() { return AllocatedBytes(); }
