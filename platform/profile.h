// Profile (INI) files with the Windows profile-function rules.
//
// Reading:
// - Lines end in LF or CR LF. A line whose first non-blank character is ";"
//   is a comment. A line beginning "[" (after blanks) opens a section; its
//   name runs to the first "]" (or the line's end), blanks trimmed.
// - In a section, a line with "=" is a pair: the name is the text before the
//   first "=", the value the text after it, both with blanks (spaces, tabs)
//   trimmed; then one pair of matching surrounding quotes (" or ') is
//   stripped from the value, and the value is cut to 1023 characters.
//   Other lines, and pairs before the first section, are ignored.
// - Section and key names compare without regard to ASCII case; names
//   passed to the calls are trimmed of blanks like those in the file. Of two
//   sections with one name the first answers; so does the first of two keys.
// - Reading never creates anything, and each read sees the file as it is
//   now; a missing file reads as empty. The parsed lines of a file unchanged
//   for a few seconds are reused while its device, inode, size and change
//   times stay the same.
//
// Writing:
// - Each write takes an advisory lock (flock on "<file>.lock" beside the
//   file), reads the file afresh, changes one key or erases one section,
//   and replaces the file atomically (a temporary file in the same
//   directory renamed over it). Writers in several processes therefore lose
//   nothing, and readers see the old file or the new one, never a part.
// - All other lines stay as they were; the file is written with CR LF line
//   ends. A missing file or section is created; a new key goes after the
//   last non-blank line of its section, a new section at the end after a
//   blank line.
// - A changed key keeps its line's spelling and spacing up to the value.
// - A write that cannot be done throws IniWriteError("Unable to write to "
//   + the path): the directory is missing or not writable, the path is a
//   directory, the existing file cannot be read, or a name or value would
//   break the file's structure (a line break in any of them; "=" in a key
//   or one that starts with ";" or "["; "]" in a section name; an empty
//   key). The file is then left as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/export.h"

HALV_EXPORT_BEGIN
namespace platform {

class IniWriteError : public std::runtime_error {
 public:
  explicit IniWriteError(const std::string& path) : std::runtime_error("Unable to write to " + path), path_(path) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The longest value a read returns.
constexpr size_t kIniMaxValue = 1023;

class IniFile {
 public:
  // The file need not exist. The path is used as given (the error message
  // names it so); callers pass a full path.
  explicit IniFile(std::string path);

  const std::string& FileName() const { return path_; }

  // The stored value, or `def` when the file, section or key is missing.
  // Either is cut to 1023 characters.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;

  // A decimal number (an optional sign and digits, within 32 bits), or a
  // hexadecimal one when the value begins "0x" or "0X" (up to FFFFFFFF, read
  // as a 32-bit pattern). Anything else is not a number and gives `def`:
  // "12abc", "1.5", "0x", "-0x10", an empty value, a value out of range.
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;

  // Read as an integer: any value other than 0 is true ("2" too); a value
  // that is not a number gives `def`.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  // The names of the keys of a section, in file order, each once (the
  // spelling of the first). Keys with empty values included.
  std::vector<std::string> ReadSection(const std::string& section) const;

  // The section's pairs as (name, value), in file order, each name once with
  // its first value. A pair whose value is empty is left out.
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const;

  // The names of all sections, in file order, each once.
  std::vector<std::string> ReadSections() const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);  // "1" or "0"

  // Removes every section of that name with all its lines. Nothing is
  // written when there is none (a missing file stays missing).
  void EraseSection(const std::string& section);

  // Replaces every section of that name with one holding these pairs, in
  // one write: readers and a crash see the old section or the new one,
  // never a part. The result is what EraseSection and a WriteString per
  // pair would leave, except that the section keeps its place: its header
  // line and the blank lines after its last line stay, its other lines
  // (comments too) go, and later sections of that name are removed; a
  // missing section goes at the end. Of pairs with one key (ASCII case
  // ignored) the first's place and spelling stay and the last's value.
  // No pairs: as EraseSection. A pair that WriteString would refuse
  // refuses the whole write, leaving the file as it was.
  void ReplaceSection(const std::string& section, const std::vector<std::pair<std::string, std::string>>& pairs);

 private:
  std::string path_;
};

// For tests: runs inside every write, once the new file is complete beside
// the old one and before it replaces it; an empty function stops that.
void SetIniBeforeReplaceHook(std::function<void()> hook);

}  // namespace platform
HALV_EXPORT_END
