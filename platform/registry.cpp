#include "platform/registry.h"

#include <cstdlib>

namespace platform {

std::string RegistryRoot() {
  auto strip = [](std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  if (const char* r = std::getenv("HALVORINE_REGISTRY"); r && *r) return strip(r);
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return strip(x) + "/halvorine-registry";
  const char* home = std::getenv("HOME");
  return strip(home && *home ? home : "/tmp") + "/.config/halvorine-registry";
}

}  // namespace platform
