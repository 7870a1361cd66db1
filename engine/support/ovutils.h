// Small routines used across the engine: case mapping, trimming and
// searching in strings, numbers to and from the text of numeric fields,
// temporary file names, erasing by wildcard, free space and path checks.
//
// Positions are 1-based, 0 meaning "not found". Only `UniqueFilename` and
// `EraseFiles` report errors; the file routines answer the platform's code,
// the rest neutral values (0, "", false).
//
// Single-threaded, process-wide state: the number routines read the
// `DecimalPoint` setting of the engine state.
#pragma once

#include <cstdint>
#include <string>

namespace ov {

// Case and letters, code page 1252.
std::string UpperText(const std::string& text);
bool IsAlphaText(const std::string& text);
char UpperChar(char c);
char LowerChar(char c);

// Strings.
std::string RightTrim(const std::string& text);
std::string LeftTrim(const std::string& text);
// Non-overlapping occurrences of sub in text, counted from the left.
int Occurs(const std::string& sub, const std::string& text);
// Position of the n-th occurrence of sub. A negative n counts occurrences
// from the end and answers the position from the end, as if both strings
// were reversed: for a longer sub that is the place of its last character.
int NthAt(int n, const std::string& sub, const std::string& text);
std::string CharString(char c, int count);
// Upper-cases text, deletes the option word where it stands as a word of its
// own, and trims the text; true when something was deleted.
bool RemoveWord(const std::string& word, std::string& text);
inline std::string Choose(bool flag, const std::string& a, const std::string& b) { return flag ? a : b; }

// Number text.
void NormaliseNumberText(std::string& text);
double TextToFloat(const std::string& text);
int32_t TextToInt(const std::string& text);
int16_t TextToSmallInt(const std::string& text);
std::string FloatToText(int width, int decimals, double x);
std::string IntToText(int64_t n, int width);

// Files.
// Creates an empty file with a unique name in the temporary folder and
// returns its full name; "" after a reported failure.
std::string UniqueFilename();
// Deletes one file, or every file matching a pattern with "*" and "?".
void EraseFiles(const std::string& pattern);
bool FileExists(const std::string& name);
// Creates an empty file with a unique name ("OVP" prefix) in the folder of
// `beside`, so that a rename onto `beside` never crosses file systems.
// Reports nothing: answers the platform's code.
[[nodiscard]] uint16_t SiblingTempFile(const std::string& beside, std::string& name);
// Copies `from` to a new file beside `to` and names it in `staged`; `to`
// itself is not touched, so a rename can later replace it whole. On failure
// nothing is left behind. Reports nothing: answers the platform's code.
[[nodiscard]] uint16_t CopyBeside(const std::string& from, const std::string& to, std::string& staged);
// Free space in KiB of the file system holding path ("" = current folder);
// 0xFFFFFFFF when it cannot be found out.
uint32_t DiskFreeKB(const std::string& path);
// Drive numbers have no meaning here: 0 is the current folder, 1..26 the
// root of the one tree, anything else unknown (0xFFFFFFFF).
uint32_t DiskFreeKBOfDrive(int drive);
// The path with trailing blanks removed and each component spelt as stored
// on disk; "" when some component does not exist (there are no short names).
std::string ShortPathName(const std::string& path);

}  // namespace ov
