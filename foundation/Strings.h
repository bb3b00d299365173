// Free text functions over byte strings. Nothing here knows about character
// encodings: every operation works byte by byte and case folding is the C
// library's single-byte tolower.
#pragma once

#include <string>
#include <vector>

namespace Kelm {

std::string ToString(int value);
std::string ToString(unsigned int value);
std::string ToString(float value);
std::string ToString(float value, int decimals);

std::string ToLower(const std::string& text);

// Removes leading and trailing blanks (0x20) only, in place; tabs, carriage
// returns and line feeds stay.
void Trim(std::string& text);

// Always at least one element: "" gives {""}, "a&&b" gives {"a", "", "b"}.
std::vector<std::string> Split(const std::string& text, char separator);

// Replaces every occurrence, always searching again from the front, so text
// made by one replacement can take part in the next. from must not be empty
// and to must not contain from.
std::string Replace(const std::string& text, const std::string& from, const std::string& to);

bool StartsWith(const std::string& text, const std::string& prefix);
bool Contains(const std::string& text, const std::string& part);

std::string StripPath(const std::string& path);      // after the last "/", then the last "\"
std::string GetDirectory(const std::string& path);   // before the last "/"
std::string GetFileExt(const std::string& name);     // after the last "."; "" without one
std::string GetFileNoExt(const std::string& name);   // before the last "."
std::string RemoveChar(const std::string& text, char c);

}  // namespace Kelm

namespace Kelm {

// Truncates toward zero like a C cast, but gives 0 for values that do not
// fit an int (NaN, or a configured "port 1e20"), where the cast is undefined.
int TruncateToInt(float value);

}  // namespace Kelm
