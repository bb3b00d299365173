// The one reader and writer of the programs' own files: fv.cfg, server.txt,
// the pid file, the sample files, and every file the HTTP server sends.
//
// Text mode: one value per line, "//" comment lines and blank lines anywhere,
// an optional version header (the first data line is the version). Binary
// mode: 4-byte little-endian integers and floats on every host, strings
// ending in a zero byte. Reading goes through a replaceable FileImpl.
//
//     File file(true, false);
//     if (file.OpenRead("server.txt", false, false)) { int n; file.GetInteger(n); }
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/Shareable.h"
#include "foundation/Tokeniser.h"

namespace Kelm {

// The program-wide version written into versioned data files.
constexpr int FILE_VERSION = 11;

// The longest text line a reader returns; longer lines are cut there.
constexpr size_t MAX_LINE_LENGTH = 999;

class FileImpl : public Shareable {
public:
    ~FileImpl() override = default;
    virtual bool Open(const std::string& root, const std::string& name, bool binary) = 0;
    virtual bool GetLine(std::string& line) = 0;
    virtual size_t Read(size_t count, void* buffer) = 0;
    virtual void Seek(uint64_t position) = 0;
    virtual uint64_t GetSize() = 0;
};

class FileImplStd : public FileImpl {
public:
    bool Open(const std::string& root, const std::string& name, bool binary) override;
    bool GetLine(std::string& line) override;
    size_t Read(size_t count, void* buffer) override;
    void Seek(uint64_t position) override;
    uint64_t GetSize() override { return 0; }
    ~FileImplStd() override;

private:
    FILE* m_stream = nullptr;
};

class File : public Shareable {
public:
    // hasVersion: the file carries the version header. allowGlue: read from
    // the glue archive when one is in use (none is, yet: always the disk).
    File(bool hasVersion, bool allowGlue);
    ~File() override;

    bool OpenRead(const std::string& name, bool binary, bool useRoot);
    bool OpenWrite(const std::string& name, int version, bool binary, bool useRoot, bool truncate);
    void Close();

    bool ReadLine(std::string& line);
    bool GetDataLine(std::string& line);
    bool GetInteger(int& value);
    bool GetUnsigned(unsigned& value);
    bool GetFloat(float& value);
    bool GetToken(std::string& token);
    bool GetIntToken(int& value);
    bool GetFloatToken(float& value);
    bool FindToken(const std::string& word);

    bool WriteString(const std::string& text);
    bool WriteInteger(int value);
    bool WriteUnsigned(unsigned value);
    bool WriteFloat(float value);
    bool WriteComment(const std::string& text);
    bool WriteBytes(const void* buffer, size_t count);
    // Pushes written bytes to the disk itself (fsync); false when any write
    // since the open failed. For files that must survive a crash.
    bool Sync();

    void ReportError(const std::string& message) const;
    size_t ReadBytes(size_t count, void* buffer);
    void Seek(uint64_t position);

    int GetVersion() const { return m_version; }
    bool IsBinary() const { return m_binary; }
    std::string GetName() const { return m_name; }
    int GetLineNumber() const { return m_lineNumber; }
    bool IsOk() const { return !m_atEnd; }
    void SetTokeniser(Tokeniser* tokeniser) { m_tokeniser = tokeniser; }

    static void SetRoot(const std::string& dir, char separator = '/');
    static std::string GetRoot();

    static bool IsCommentOrEmpty(const std::string& trimmedLine);

private:
    bool ReadVersion();
    bool WriteLine(const std::string& text);
    bool WriteRaw(uint32_t value);
    bool ReadRaw(uint32_t& value);

    int m_version = -1;
    bool m_binary = false;
    SharedPtr<FileImpl> m_impl;
    FILE* m_output = nullptr;  // the writing side, opened by OpenWrite
    bool m_atEnd = false;
    int m_lineNumber = 0;
    std::string m_name;
    bool m_hasVersion;
    std::string m_currentLine;
    Tokeniser* m_tokeniser;
    Tokeniser m_ownTokeniser;
};

}  // namespace Kelm
