#include "foundation/Strings.h"

#include <cctype>
#include <cstdio>

#include "foundation/Assert.h"

namespace Kelm {

std::string ToString(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    return buffer;
}

std::string ToString(unsigned int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%u", value);
    return buffer;
}

std::string ToString(float value)
{
    // Large enough for the widest float in "%f" (39 digits and six decimals).
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(value));
    return buffer;
}

std::string ToString(float value, int decimals)
{
    std::string format = "%." + ToString(decimals) + "f";
    char buffer[128];
    // Precision above 60 would overflow the buffer's meaning; snprintf still
    // cuts safely.
    std::snprintf(buffer, sizeof buffer, format.c_str(), static_cast<double>(value));
    return buffer;
}

std::string ToLower(const std::string& text)
{
    std::string lowered(text);
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lowered;
}

void Trim(std::string& text)
{
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    size_t last = text.find_last_not_of(' ');
    text = text.substr(first, last - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string Replace(const std::string& text, const std::string& from, const std::string& to)
{
    KELM_ASSERT(!from.empty());
    std::string result(text);
    if (to.find(from) != std::string::npos) {
        // Rescanning from the front would never end; replace left to right
        // once instead.
        std::string once;
        size_t start = 0;
        for (size_t at = result.find(from); at != std::string::npos; at = result.find(from, start)) {
            once += result.substr(start, at - start) + to;
            start = at + from.size();
        }
        return once + result.substr(start);
    }
    for (size_t at = result.find(from); at != std::string::npos; at = result.find(from)) {
        result.replace(at, from.size(), to);
    }
    return result;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string StripPath(const std::string& path)
{
    std::string name = path;
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    size_t backslash = name.rfind('\\');
    if (backslash != std::string::npos) name = name.substr(backslash + 1);
    return name;
}

std::string GetDirectory(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string GetFileExt(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string GetFileNoExt(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string RemoveChar(const std::string& text, char c)
{
    std::string result;
    result.reserve(text.size());
    for (char each : text) {
        if (each != c) result += each;
    }
    return result;
}

}  // namespace Kelm

namespace Kelm {

int TruncateToInt(float value)
{
    // The float nearest to INT_MAX is 2^31 itself, which does not fit.
    if (!(value > -2147483648.0f && value < 2147483648.0f)) return 0;
    return static_cast<int>(value);
}

}  // namespace Kelm
