// A BBS library that has only two of the entries: it opens any path and
// claims two subboards, but cannot list, open, add or repair them.
#include <cstdint>

#define QX_EXPORT extern "C" __attribute__((visibility("default")))

QX_EXPORT int32_t OrteluneInit(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*) { return 7; }
QX_EXPORT int32_t SubListCount(int32_t, int32_t) { return 2; }
