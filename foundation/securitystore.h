// The security store: the tables USERS, GROUPS, ACCESS and FIELDS of the
// data directory, reached through the persistent alias "HALVORINE", and the
// name lists kept in their blob fields.
//
// The schema is foundation/security-tables.sql: one SQLite file per table in
// the data directory, every key value stored in upper case.
//
// A name list is a sequence of items, each its bytes followed by one carriage
// return; an empty list is an empty blob.
//
// One store per module, used from the GUI thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dbtables.h"

struct SecurityStore {
  platform::Table Users, Groups, Access, Fields;

  // Field positions, looked up when the store opens.
  int UsersPassHash = -1;
  int UsersSecGroups = -1;
  int AccessIpAction = -1;
  int AccessEnforce = -1;
  int AccessGroups = -1;
  int AccessUsers = -1;
  int AccessIpAddr = -1;

  bool Open = false;
  std::string DataDirectory;

  // The module's store.
  static SecurityStore& Instance();
};

// The alias of the data directory, and the server's second alias (registered
// only; no table is opened through it).
inline constexpr std::string_view kDataAlias = "HALVORINE";
inline constexpr std::string_view kSecondAlias = "HALVDB";

// The longest data directory the tools accept.
inline constexpr std::size_t kToolDataDirectoryMax = 249;

// Marks the store closed and has it closed at program end.
void SecurityStoreInit();

// Server variant. With an empty alias the engine is started, "HALVORINE" is
// registered for data_directory and "HALVDB" for second_directory (when not
// empty), each only when not registered yet, and the tables are opened
// through "HALVORINE"; otherwise they are opened through alias. A missing
// directory, table or field raises platform::DbError; the tables opened
// before it are closed again and the store stays closed.
void OpenSecurityStore(const std::string& alias, const std::string& data_directory,
                       const std::string& second_directory);

// Tool variant: registers "HALVORINE" even when the engine start failed.
// A data directory longer than 249 characters is refused (DbError).
void OpenSecurityStore(const std::string& alias, const std::string& data_directory);

// Closes USERS, GROUPS, ACCESS and FIELDS when the store is open.
void CloseSecurityTables();

// Fills list from a name-list blob, read in chunks of 100 bytes. A carriage
// return or a NUL ends an item; bytes after the 255th of an item are dropped;
// an unterminated last item is ignored. With a filter table, an item is kept
// (in its stored case) only when its upper-cased text is a key of the filter.
void ReadNameList(platform::BlobReader& blob, std::vector<std::string>& list, platform::Table* filter);
void ReadNameList(const platform::Table& table, int field, std::vector<std::string>& list,
                  platform::Table* filter);

// Appends list to stream as a name list. An item holding a carriage return
// or a NUL would read back as other items, so it is left out; an item longer
// than 254 characters is cut to 254.
void WriteNameList(std::string& stream, const std::vector<std::string>& list);
