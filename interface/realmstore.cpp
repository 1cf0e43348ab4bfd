// The realm user store: per authentication realm, the client addresses seen
// with the user name each last sent and the time of its last request. It
// lives in memory from the library's load to the end of the process and
// survives detaching from the server.
//
// Every export here holds StoreLock from start to end; the helpers below run
// with it held and never take it, so it is never entered twice on a path.
// Lookups compare in ASCII case folding. A realm's clients are kept in the
// order of adding (the exports number them so) and found through an index
// from the upcased address to their position.
#include <memory>
#include <unordered_map>

#include "interface/tandrelstate.h"
#include "platform/datetime.h"

using namespace tandrel;

namespace {

struct UserEntry {
  std::string address;
  std::unique_ptr<TUserItem> item;  // its address is handed to the server
};

struct RealmEntry {
  std::string name;  // as first added
  std::vector<UserEntry> users;
  std::unordered_map<std::string, std::size_t> position;  // upcased address -> index in users
};

using RealmList = std::vector<RealmEntry>;

std::mutex StoreLock;
RealmList* Realms = nullptr;  // never freed: it lives as long as the process

RealmList& Store() {
  if (!Realms) Realms = new RealmList;
  return *Realms;
}

int32_t FindRealm(std::string_view name) {
  RealmList& realms = Store();
  for (std::size_t i = 0; i < realms.size(); ++i)
    if (SameText(realms[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

RealmEntry* RealmNamed(std::string_view name) {
  int32_t i = FindRealm(name);
  return i < 0 ? nullptr : &Store()[static_cast<std::size_t>(i)];
}

int32_t FindUser(const RealmEntry& realm, std::string_view address) {
  auto it = realm.position.find(platform::ascii::UpperCase(address));
  return it == realm.position.end() ? -1 : static_cast<int32_t>(it->second);
}

void AppendUser(RealmEntry& realm, std::string_view address, std::unique_ptr<TUserItem> item) {
  realm.position.emplace(platform::ascii::UpperCase(address), realm.users.size());
  realm.users.push_back(UserEntry{std::string(address), std::move(item)});
}

// Removes the client at index i; those after it move up one place.
void EraseUser(RealmEntry& realm, std::size_t i) {
  realm.position.erase(platform::ascii::UpperCase(realm.users[i].address));
  realm.users.erase(realm.users.begin() + static_cast<std::ptrdiff_t>(i));
  for (std::size_t j = i; j < realm.users.size(); ++j) realm.position[platform::ascii::UpperCase(realm.users[j].address)] = j;
}

UserEntry* UserAt(std::string_view address, std::string_view realm_name) {
  RealmEntry* realm = RealmNamed(realm_name);
  if (!realm) return nullptr;
  int32_t i = FindUser(*realm, address);
  return i < 0 ? nullptr : &realm->users[static_cast<std::size_t>(i)];
}

// The realm of the request on an attached, connected slot (status 0).
RealmEntry* RealmOfSlot(const THTTP* server, int32_t cid) {
  return RealmNamed(UpperCase(server->Requests[cid].Realm.view()));
}

template <typename Result, typename Body>
Result Locked(Result fallback, Body&& body) noexcept {
  return Guarded<Result>(fallback, [&]() -> Result {
    std::lock_guard<std::mutex> lock(StoreLock);
    return body();
  });
}

}  // namespace

namespace tandrel {

void CreateRealmStore() {
  std::lock_guard<std::mutex> lock(StoreLock);
  Store();
}

}  // namespace tandrel

TANDREL_EXPORT int32_t GetRealmCnt(void) {
  return Locked<int32_t>(0, [] { return static_cast<int32_t>(Store().size()); });
}

TANDREL_EXPORT int32_t GetRealmIndex(const THalvShortString realm) {
  return Locked<int32_t>(-1, [&] { return FindRealm(ShortText(realm)); });
}

TANDREL_EXPORT uint8_t GetUserItem(TUserItem** item, const THalvShortString address, const THalvShortString realm) {
  return Locked<uint8_t>(0, [&]() -> uint8_t {
    UserEntry* user = UserAt(ShortText(address), ShortText(realm));
    if (!user) return 0;
    if (item) *item = user->item.get();
    return 1;
  });
}

TANDREL_EXPORT uint8_t AddRealm(const THalvShortString realm) {
  return Locked<uint8_t>(0, [&]() -> uint8_t {
    std::string_view name = ShortText(realm);
    if (FindRealm(name) >= 0) return 0;
    Store().push_back(RealmEntry{std::string(name), {}, {}});
    return 1;
  });
}

TANDREL_EXPORT int32_t AddUserItem(const THalvShortString user, const THalvShortString address,
                                   const THalvShortString realm) {
  return Locked<int32_t>(0, [&]() -> int32_t {
    RealmEntry* entry = RealmNamed(ShortText(realm));
    std::string_view addr = ShortText(address);
    if (!entry || FindUser(*entry, addr) >= 0) return 0;
    auto item = std::make_unique<TUserItem>();
    item->LastAccess = platform::Now();
    PutShortText(item->UserName, ShortText(user));
    AppendUser(*entry, addr, std::move(item));
    return 1;
  });
}

// The caller has already written the item; this only confirms the client.
TANDREL_EXPORT int32_t UpdateUserItem(TUserItem* item, const THalvShortString address,
                                      const THalvShortString realm) {
  return Locked<int32_t>(0, [&]() -> int32_t { return UserAt(ShortText(address), ShortText(realm)) ? 1 : 0; });
}

// An index outside 0..count-1 gives the empty string.
TANDREL_EXPORT void GetRealmByNo(THalvShortString realm, int32_t index) {
  Locked<int>(0, [&] {
    RealmList& realms = Store();
    bool in_range = index >= 0 && static_cast<std::size_t>(index) < realms.size();
    PutShortText(realm, in_range ? std::string_view(realms[static_cast<std::size_t>(index)].name) : "");
    return 0;
  });
}

// The empty string for an absent realm or an index outside 0..count-1.
TANDREL_EXPORT void GetUserByNo(THalvShortString address, int32_t index, const THalvShortString realm) {
  Locked<int>(0, [&] {
    RealmEntry* entry = RealmNamed(ShortText(realm));
    bool in_range = entry && index >= 0 && static_cast<std::size_t>(index) < entry->users.size();
    PutShortText(address, in_range ? std::string_view(entry->users[static_cast<std::size_t>(index)].address) : "");
    return 0;
  });
}

TANDREL_EXPORT int32_t GetRealmUserCnt(const THalvShortString realm) {
  return Locked<int32_t>(0, [&]() -> int32_t {
    RealmEntry* entry = RealmNamed(ShortText(realm));
    return entry ? static_cast<int32_t>(entry->users.size()) : 0;
  });
}

// Frees the item: a reference the server still holds to it is stale from
// here on.
TANDREL_EXPORT int32_t DeleteRealmUser(const THalvShortString address, const THalvShortString realm) {
  return Locked<int32_t>(0, [&]() -> int32_t {
    RealmEntry* entry = RealmNamed(ShortText(realm));
    if (!entry) return 0;
    int32_t i = FindUser(*entry, ShortText(address));
    if (i < 0) return 0;
    EraseUser(*entry, static_cast<std::size_t>(i));
    // Expiry empties the list of a busy hour again: give the room back.
    if (entry->users.size() <= entry->users.capacity() / 4) {
      entry->users.shrink_to_fit();
      entry->position.rehash(0);
    }
    return 1;
  });
}

// The clients of the connection's realm. The count is left as it was when
// the check fails.
TANDREL_EXPORT TConnStatus GetUserCnt(int32_t* count, int32_t cid) {
  return Locked<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (status != 0) return status;
    RealmEntry* entry = RealmOfSlot(server, cid);
    if (count) *count = entry ? static_cast<int32_t>(entry->users.size()) : 0;
    return 0;
  });
}

// One client of the connection's realm: its address into info->Address and
// its user name into info->UserName. 4, with both buffers emptied, when the
// realm is absent or the index outside 0..count-1.
TANDREL_EXPORT TConnStatus GetUserInfo(TUserInfo* info, int32_t index, int32_t cid) {
  return Locked<TConnStatus>(1, [&]() -> TConnStatus {
    THTTP* server = nullptr;
    TConnStatus status = CheckConnection(cid, server);
    if (status != 0) return status;
    RealmEntry* entry = RealmOfSlot(server, cid);
    bool in_range = entry && index >= 0 && static_cast<std::size_t>(index) < entry->users.size();
    std::string_view address, user;
    if (in_range) {
      const UserEntry& u = entry->users[static_cast<std::size_t>(index)];
      address = u.address;
      user = ShortText(u.item->UserName);
    }
    if (info && info->Address) CopyText(info->Address, address);
    if (info && info->UserName) CopyText(info->UserName, user);
    return in_range ? 0 : 4;
  });
}
