// The password check and the access decision, answered from the security
// store for every request. Both fail closed: a missing account or rule, an
// empty list, an unknown address action, and any store error are refusals.
// Neither waits more than 100 ms for another program's lock on a table:
// a lookup that cannot be made by then is a store error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/shortstring.h"
#include "platform/dbtables.h"

// The checks made while one lives share one 100 ms wait for other programs'
// locks: a request that checks both password and access waits no longer
// than one check would.
class TLookupWait {
 public:
  TLookupWait();

 private:
  platform::DbDeadline deadline_;
};

// Changes a to z into A to Z in place; every other byte stays.
void UpcaseShortString(ShortString& text);
void UpcaseShortString(std::string& text);

// One step of the CRC-32 of the reflected polynomial 0xEDB88320.
std::uint32_t Crc32Step(std::uint8_t byte, std::uint32_t crc);

// The register starts at NOT seed, takes each byte through Crc32Step and is
// returned without a final inversion. Passwords use seed 1 (start value
// 0xFFFFFFFE) over the upper-cased password; USERS.PASSHASH holds the result
// as a signed 32-bit integer.
std::uint32_t PasswordHash(const void* bytes, std::size_t count, std::uint32_t seed);
inline std::uint32_t PasswordHash(std::string_view text, std::uint32_t seed = 1) {
  return PasswordHash(text.data(), text.size(), seed);
}

// Upper-cases user and password in place, whatever the result; true when
// USERS holds the user and the hash of the password matches. A store error
// is false, with its message in *error when error is given.
bool CheckPassword(ShortString& user, ShortString& password, std::string* error = nullptr);

// Whether user, connecting from address (dotted IPv4 text), may fetch file
// (a full path): the rule of module "SERVER", action "GET" and the file's
// directory up to and including its last "/". Store errors as above.
bool CheckAccess(std::string_view file, std::string_view user, std::string_view address,
                 std::string* error = nullptr);

// The decision for one rule of ACCESS. Only ENFORCE exactly "N" opens the
// rule to everybody; otherwise the user must be in USERS and either share a
// group with the rule (both lists filtered by GROUPS) or be listed among the
// rule's users; then the address list decides.
bool CheckAccessRule(std::string_view module, std::string_view resource, std::string_view action,
                     std::string_view user, std::string_view address, std::string* error = nullptr);

// True when an item of first is in second, compared without regard to case.
bool ListsIntersect(const std::vector<std::string>& first, const std::vector<std::string>& second);

// letter 'A': some pattern matches; 'D': no pattern matches; 'I': true;
// anything else (lower case and '\0' for an empty action included): false.
bool MatchIPList(char letter, std::string_view address, const std::vector<std::string>& patterns);

// Compares the four parts in turn: a "*" part of the pattern matches the rest,
// a differing part fails, four equal parts match.
bool MatchIPPattern(std::string_view address, std::string_view pattern);

// 0 when the k-th parts (k = 1..4, IPTextPart) differ, 1 when the
// pattern's is "*", 2 when they are the same bytes.
int MatchIPOctet(int k, std::string_view pattern, std::string_view address);

// The k-th part (k = 1..4) of a pattern or an address as the check compares
// them: drop k - 1 times everything up to and including the first dot
// (nothing when there is none), then for k < 4 cut at the first dot. A text
// with fewer parts repeats its last one; the fourth part keeps any further
// dots.
std::string_view IPTextPart(std::string_view text, int k);

// A pattern as the check reads it: its four parts joined by dots, every
// part from the first "*" on written "*", as the comparison stops there.
// It matches exactly the addresses the pattern matches: "192.168.*.5" reads
// "192.168.*.*", "192.168" reads "192.168.168.168", "*" reads "*.*.*.*".
std::string ReadIPPattern(std::string_view pattern);
