// What the platform libraries (libhalvplatform.so, libhalvui.so) let other
// modules reach. They are built with everything hidden. A header whose every
// declaration is for others encloses them in HALV_EXPORT_BEGIN/_END; other
// headers mark each class and function that crosses with HALV_EXPORT. A class
// with virtual functions that others derive from, dynamic_cast to or catch is
// marked as a whole, so that its vtable and type information are one across
// modules.
#pragma once

#define HALV_EXPORT __attribute__((visibility("default")))
#define HALV_EXPORT_BEGIN _Pragma("GCC visibility push(default)")
#define HALV_EXPORT_END _Pragma("GCC visibility pop")
