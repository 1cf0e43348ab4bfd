-- The security tables: four SQLite database files, one table each, in the
-- data directory. Run in that directory:
--     sqlite3 < /path/to/foundation/security-tables.sql
-- Every key value is stored in upper case. Running it again changes nothing.
ATTACH 'USERS.db' AS users_file;
ATTACH 'GROUPS.db' AS groups_file;
ATTACH 'ACCESS.db' AS access_file;
ATTACH 'FIELDS.db' AS fields_file;

-- Write-ahead log: a writer never makes the server wait. Each table keeps a
-- -wal and a -shm file beside it while it is in use.
PRAGMA users_file.journal_mode=WAL;
PRAGMA groups_file.journal_mode=WAL;
PRAGMA access_file.journal_mode=WAL;
PRAGMA fields_file.journal_mode=WAL;

-- USERID: the login name in upper case. PASSHASH: the hash of the upper-cased
-- password, a signed 32-bit integer. SECGROUPS: the account's groups.
CREATE TABLE IF NOT EXISTS users_file.USERS (USERID TEXT PRIMARY KEY, LOGINNAME TEXT, PASSHASH INTEGER, SECGROUPS BLOB);

-- GROUPID: the group name in upper case. DISPLAY: the name as shown and as
-- written into rules.
CREATE TABLE IF NOT EXISTS groups_file.GROUPS (GROUPID TEXT PRIMARY KEY, DISPLAY TEXT);

-- One rule per (MODULE, RESOURCE, ACTION). IPACTION: "A", "D" or "I".
-- ENFORCE: "Y" or "N". GROUPS, USERS, IPADDR: name lists.
CREATE TABLE IF NOT EXISTS access_file.ACCESS (MODULE TEXT, RESOURCE TEXT, ACTION TEXT, IPACTION TEXT, ENFORCE TEXT, GROUPS BLOB, USERS BLOB, IPADDR BLOB, PRIMARY KEY (MODULE, RESOURCE, ACTION));

-- Opened with the others; holds nothing the system reads.
CREATE TABLE IF NOT EXISTS fields_file.FIELDS (FIELDID TEXT PRIMARY KEY);
