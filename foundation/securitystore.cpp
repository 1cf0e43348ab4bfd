#include "foundation/securitystore.h"

#include <cstdlib>

#include "foundation/security.h"

namespace {

constexpr std::size_t kChunk = 100;       // the reader's chunk size
constexpr std::size_t kReadItemMax = 255;  // bytes kept of an item read
constexpr std::size_t kWriteItemMax = 254; // bytes written of an item

void SecurityStoreExit() { CloseSecurityTables(); }

void CloseAll(SecurityStore& s) {
  s.Users.Close();
  s.Groups.Close();
  s.Access.Close();
  s.Fields.Close();
}

void OpenTables(SecurityStore& s, const std::string& database) {
  struct Entry {
    platform::Table& table;
    const char* name;
  };
  try {
    for (Entry e : {Entry{s.Users, "USERS"}, Entry{s.Groups, "GROUPS"}, Entry{s.Access, "ACCESS"},
                    Entry{s.Fields, "FIELDS"}}) {
      e.table.SetDatabaseName(database);
      e.table.SetTableName(e.name);
      e.table.Open();
    }
    s.UsersPassHash = s.Users.FieldIndex("PASSHASH");
    s.UsersSecGroups = s.Users.FieldIndex("SECGROUPS");
    s.AccessIpAction = s.Access.FieldIndex("IPACTION");
    s.AccessEnforce = s.Access.FieldIndex("ENFORCE");
    s.AccessGroups = s.Access.FieldIndex("GROUPS");
    s.AccessUsers = s.Access.FieldIndex("USERS");
    s.AccessIpAddr = s.Access.FieldIndex("IPADDR");
  } catch (...) {
    CloseAll(s);  // a failed open leaves nothing half open
    throw;
  }
  s.Open = true;
}

std::string PathParam(const std::string& directory) { return "PATH:" + directory; }

}  // namespace

SecurityStore& SecurityStore::Instance() {
  static SecurityStore store;
  return store;
}

void SecurityStoreInit() {
  static bool registered = false;
  SecurityStore::Instance().Open = false;  // made before the exit routine, so destroyed after it
  if (!registered) {
    registered = true;
    std::atexit(SecurityStoreExit);
  }
}

void OpenSecurityStore(const std::string& alias, const std::string& data_directory,
                       const std::string& second_directory) {
  SecurityStore& s = SecurityStore::Instance();
  CloseSecurityTables();
  s.DataDirectory = data_directory;
  std::string database = alias;
  if (alias.empty()) {
    database = std::string(kDataAlias);
    if (platform::DbiInit() == 0) {
      platform::DbiAddAlias(kDataAlias, PathParam(data_directory));
      if (!second_directory.empty()) platform::DbiAddAlias(kSecondAlias, PathParam(second_directory));
      platform::DbiExit();
    }
  }
  OpenTables(s, database);
}

void OpenSecurityStore(const std::string& alias, const std::string& data_directory) {
  if (data_directory.size() > kToolDataDirectoryMax)
    throw platform::DbError("The data directory is longer than " + std::to_string(kToolDataDirectoryMax) +
                            " characters: " + data_directory);
  SecurityStore& s = SecurityStore::Instance();
  CloseSecurityTables();
  s.DataDirectory = data_directory;
  std::string database = alias;
  if (alias.empty()) {
    database = std::string(kDataAlias);
    bool started = platform::DbiInit() == 0;
    platform::DbiAddAlias(kDataAlias, PathParam(data_directory));
    if (started) platform::DbiExit();
  }
  OpenTables(s, database);
}

void CloseSecurityTables() {
  SecurityStore& s = SecurityStore::Instance();
  if (!s.Open) return;
  CloseAll(s);
  s.Open = false;
}

void ReadNameList(platform::BlobReader& blob, std::vector<std::string>& list, platform::Table* filter) {
  list.clear();
  blob.Rewind();
  std::string item;
  auto end_item = [&] {
    bool keep = true;
    if (filter) {
      std::string key = item;
      UpcaseShortString(key);
      keep = filter->FindKey({key});
    }
    if (keep) list.push_back(item);
    item.clear();
  };
  char chunk[kChunk];
  for (;;) {
    std::size_t n = blob.Read(chunk, kChunk);
    for (std::size_t i = 0; i < n; ++i) {
      char c = chunk[i];
      if (c == '\r' || c == '\0')
        end_item();
      else if (item.size() < kReadItemMax)
        item += c;
    }
    if (n < kChunk) break;
  }
  // What follows the last carriage return or NUL is not an item.
}

void ReadNameList(const platform::Table& table, int field, std::vector<std::string>& list,
                  platform::Table* filter) {
  platform::BlobReader blob = table.OpenBlob(field);
  ReadNameList(blob, list, filter);
}

void WriteNameList(std::string& stream, const std::vector<std::string>& list) {
  for (const std::string& item : list) {
    if (item.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) continue;
    stream.append(item, 0, kWriteItemMax);
    stream += '\r';
  }
}
