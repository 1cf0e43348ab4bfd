// The configuration unit: the two settings files beside the executable, and
// small string, file and time routines that the engine and the console call
// by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/shortstring.h"
#include "platform/datetime.h"
#include "platform/profile.h"

// KORRIDAN.INI and MIME.INI in the program directory. Made by
// OpenConfigFiles (at start-up, before anything reads a setting) and kept
// until the program ends; every read and write goes to the file itself.
extern platform::IniFile* ConfigIni;
extern platform::IniFile* MimeIni;

// The directory of the executable with its trailing "/" (for the interface
// library: of the program that loaded it).
const std::string& ProgramDir();

// Creates both objects; further calls change nothing.
void OpenConfigFiles();
void CloseConfigFiles();

// Removes the temporary files that writes of the two files left beside them
// when their programs were killed in the middle (those of processes that
// still run are kept). The programs that write the files call it at start.
void RemoveSettingsLeftovers();

int32_t MinInt(int32_t a, int32_t b);

// Prefixes ch until text is at least width characters long.
std::string PadLeft(std::string_view text, char ch, std::size_t width);

// Seconds from the time of day of earlier to that of later, plus 86400 when
// negative; dates and milliseconds are ignored, so a span over a day wraps.
int32_t SecondsBetween(platform::TDateTime later, platform::TDateTime earlier);

// Copies min(length, size - 1) characters and a NUL into dest (size >= 1).
void ToCString(char* dest, std::string_view text, std::size_t size);
char* ToCStringRet(char* dest, std::string_view text, std::size_t size);

// Whether a file (not a directory) of that name exists.
bool ShortFileExists(std::string_view name);

// For a buffer that outside code filled as a NUL-terminated string: the
// length becomes the position of the first NUL among all 255 bytes, keeping
// the NUL as the last character. Unchanged when there is none.
void TrimAtNul(ShortString& text);
