#include "foundation/realmlist.h"

#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/registry.h"

namespace {

constexpr char kRealmsKey[] = "\\Software\\Ortelune Software\\Halvorine\\Realms";

std::unique_ptr<platform::RegistryKey> RealmKey;
std::vector<std::string> Names;

}  // namespace

void RealmListInit() {
  static bool registered = false;
  if (auto key = platform::RegistryKey::Open(kRealmsKey, true))
    RealmKey = std::make_unique<platform::RegistryKey>(std::move(*key));
  LoadRealmList();
  if (!registered) {
    registered = true;
    std::atexit(FreeRealmList);
  }
}

void LoadRealmList() {
  Names.clear();
  if (!RealmKey) return;
  // Sorted without regard to case by the registry itself.
  Names = RealmKey->SubKeyNames();
}

void FreeRealmList() {
  RealmKey.reset();
  Names.clear();
  Names.shrink_to_fit();
}

const std::vector<std::string>& RealmList() { return Names; }
