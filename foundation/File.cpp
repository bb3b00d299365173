#include "foundation/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "foundation/Log.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

std::string s_root;  // set, if ever, before threads start

uint32_t FromLittleEndian(const unsigned char bytes[4])
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void ToLittleEndian(uint32_t value, unsigned char bytes[4])
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

}  // namespace

// ---------------------------------------------------------------- FileImplStd

FileImplStd::~FileImplStd()
{
    if (m_stream) std::fclose(m_stream);
}

bool FileImplStd::Open(const std::string& root, const std::string& name, bool binary)
{
    if (m_stream) std::fclose(m_stream);
    m_stream = std::fopen((root + name).c_str(), binary ? "rb" : "r");
    return m_stream != nullptr;
}

bool FileImplStd::GetLine(std::string& line)
{
    line.clear();
    if (m_stream == nullptr || std::feof(m_stream)) return false;

    // At most MAX_LINE_LENGTH characters are kept; the rest of an overlong
    // line is skipped up to its end, so the next call starts a new line.
    bool gotAny = false;
    int c;
    while ((c = std::getc(m_stream)) != EOF) {
        gotAny = true;
        if (c == '\n') break;
        if (line.size() < MAX_LINE_LENGTH) line += static_cast<char>(c);
    }
    if (!gotAny) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

size_t FileImplStd::Read(size_t count, void* buffer)
{
    if (m_stream == nullptr || std::feof(m_stream)) return 0;
    return std::fread(buffer, 1, count, m_stream);
}

void FileImplStd::Seek(uint64_t position)
{
    if (m_stream == nullptr) return;
    std::clearerr(m_stream);
    fseeko(m_stream, static_cast<off_t>(position), SEEK_SET);
}

// ----------------------------------------------------------------------- File

File::File(bool hasVersion, bool /*allowGlue: no archive is ever in use*/)
    : m_impl(new FileImplStd()), m_hasVersion(hasVersion), m_tokeniser(&m_ownTokeniser)
{
}

File::~File()
{
    Close();
}

void File::SetRoot(const std::string& dir, char separator)
{
    s_root = dir;
    if (!s_root.empty() && s_root.back() != separator) s_root += separator;
}

std::string File::GetRoot()
{
    return s_root;
}

bool File::OpenRead(const std::string& name, bool binary, bool useRoot)
{
    m_name = name;
    m_binary = binary;
    m_atEnd = false;
    m_currentLine.clear();
    if (!m_impl->Open(useRoot ? s_root : std::string(), name, binary)) {
        m_atEnd = true;
        return false;
    }
    return ReadVersion();
}

bool File::ReadVersion()
{
    m_version = 0;
    if (!m_hasVersion) return true;
    return GetInteger(m_version);
}

bool File::OpenWrite(const std::string& name, int version, bool binary, bool useRoot, bool truncate)
{
    Close();
    m_name = name;
    m_binary = binary;
    std::string path = (useRoot ? s_root : std::string()) + name;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : O_APPEND);
    int descriptor = ::open(path.c_str(), flags, 0664);
    if (descriptor < 0) return false;
    m_output = ::fdopen(descriptor, "w");
    if (m_output == nullptr) {
        ::close(descriptor);
        return false;
    }
    if (!m_hasVersion) return true;
    if (binary) return WriteInteger(version);
    return WriteLine("// " + StripPath(name)) && WriteLine("// File version follows on next line.") &&
           WriteLine(ToString(version)) && WriteLine("");
}

void File::Close()
{
    if (m_output) {
        std::fclose(m_output);
        m_output = nullptr;
    }
}

bool File::Sync()
{
    if (m_output == nullptr) return false;
    if (std::fflush(m_output) != 0 || std::ferror(m_output)) return false;
    return ::fsync(::fileno(m_output)) == 0;
}

bool File::ReadLine(std::string& line)
{
    if (m_atEnd) return false;
    if (m_binary) {
        line.clear();
        char c;
        while (ReadBytes(1, &c) == 1) {
            if (c == '\0') return true;
            line += c;
        }
        m_atEnd = true;
        return false;
    }
    if (!m_impl->GetLine(line)) return false;
    ++m_lineNumber;
    return true;
}

bool File::IsCommentOrEmpty(const std::string& trimmedLine)
{
    return trimmedLine.empty() || (trimmedLine.size() >= 2 && trimmedLine[0] == '/' && trimmedLine[1] == '/');
}

bool File::GetDataLine(std::string& line)
{
    std::string working;
    while (ReadLine(working)) {
        Trim(working);
        if (!IsCommentOrEmpty(working)) {
            line = working;
            return true;
        }
    }
    return false;
}

bool File::ReadRaw(uint32_t& value)
{
    unsigned char bytes[4] = {0, 0, 0, 0};
    size_t got = ReadBytes(4, bytes);
    if (got < 4) m_atEnd = true;
    value = FromLittleEndian(bytes);
    return got > 0;
}

bool File::GetInteger(int& value)
{
    if (m_binary) {
        uint32_t raw;
        if (!ReadRaw(raw)) return false;
        value = static_cast<int>(raw);
        return true;
    }
    std::string line;
    if (!GetDataLine(line)) {
        ReportError("Unexpected end of file, wanted integer.");
        return false;
    }
    value = std::atoi(line.c_str());
    return true;
}

bool File::GetUnsigned(unsigned& value)
{
    if (m_binary) {
        uint32_t raw;
        if (!ReadRaw(raw)) return false;
        value = raw;
        return true;
    }
    std::string line;
    if (!GetDataLine(line)) {
        ReportError("Unexpected end of file, wanted integer.");
        return false;
    }
    value = static_cast<unsigned>(std::strtoul(line.c_str(), nullptr, 10));
    return true;
}

bool File::GetFloat(float& value)
{
    if (m_binary) {
        uint32_t raw;
        if (!ReadRaw(raw)) return false;
        std::memcpy(&value, &raw, sizeof value);
        return true;
    }
    std::string line;
    if (!GetDataLine(line)) return false;
    value = static_cast<float>(std::atof(line.c_str()));
    return true;
}

bool File::GetToken(std::string& token)
{
    if (m_currentLine.empty() && !GetDataLine(m_currentLine)) return false;
    return m_tokeniser->Tokenise(m_currentLine, token);
}

bool File::GetIntToken(int& value)
{
    std::string token;
    if (!GetToken(token)) return false;
    value = std::atoi(token.c_str());
    return true;
}

bool File::GetFloatToken(float& value)
{
    std::string token;
    if (!GetToken(token)) return false;
    value = static_cast<float>(std::atof(token.c_str()));
    return true;
}

bool File::FindToken(const std::string& word)
{
    std::string token;
    while (GetToken(token)) {
        if (token == word) return true;
    }
    return false;
}

bool File::WriteLine(const std::string& text)
{
    if (m_output == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), m_output) == text.size() &&
              std::fputc('\n', m_output) != EOF && std::fflush(m_output) == 0;
    ++m_lineNumber;
    return ok;
}

bool File::WriteRaw(uint32_t value)
{
    if (m_output == nullptr) return false;
    unsigned char bytes[4];
    ToLittleEndian(value, bytes);
    return std::fwrite(bytes, 1, 4, m_output) == 4;
}

bool File::WriteString(const std::string& text)
{
    if (m_output == nullptr) return false;
    if (!m_binary) return WriteLine(text);
    return std::fwrite(text.c_str(), 1, text.size() + 1, m_output) == text.size() + 1;
}

bool File::WriteInteger(int value)
{
    if (m_output == nullptr) return false;
    return m_binary ? WriteRaw(static_cast<uint32_t>(value)) : WriteLine(ToString(value));
}

bool File::WriteUnsigned(unsigned value)
{
    if (m_output == nullptr) return false;
    return m_binary ? WriteRaw(value) : WriteLine(ToString(value));
}

bool File::WriteFloat(float value)
{
    if (m_output == nullptr) return false;
    if (!m_binary) {
        // The stream default: six significant digits, no trailing zeros.
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(value));
        return WriteLine(buffer);
    }
    uint32_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    return WriteRaw(raw);
}

bool File::WriteComment(const std::string& text)
{
    if (m_binary) return true;
    return WriteString(text);
}

bool File::WriteBytes(const void* buffer, size_t count)
{
    if (m_output == nullptr) return false;
    return std::fwrite(buffer, 1, count, m_output) == count;
}

void File::ReportError(const std::string& message) const
{
    Log(m_name + ", Line " + ToString(m_lineNumber) + ": \n" + message + "\n");
}

size_t File::ReadBytes(size_t count, void* buffer)
{
    if (m_atEnd) return 0;
    return m_impl->Read(count, buffer);
}

void File::Seek(uint64_t position)
{
    m_impl->Seek(position);
}

}  // namespace Kelm
