// The per-user registry stand-in: a file tree under one root.
#pragma once

#include <string>

namespace platform {

// The registry's root directory, without a trailing "/": $HALVORINE_REGISTRY
// when set, else $XDG_CONFIG_HOME/halvorine-registry, else
// ~/.config/halvorine-registry. Read afresh at every call.
std::string RegistryRoot();

}  // namespace platform
