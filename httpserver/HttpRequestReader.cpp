// Request framing: the head ends at the first empty line ("\r\n\r\n", or
// "\n\n" from a client that sends bare line feeds); the body is exactly
// Content-Length bytes. See HttpRequestReader.h.
#include "httpserver/HttpRequestReader.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "foundation/Strings.h"
#include "foundation/Tokeniser.h"
#include "httpserver/DeferredLog.h"

namespace Kelm {

namespace {

void TrimHeaderValue(std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    size_t last = text.find_last_not_of(" \t\r");
    text = text.substr(first, last - first + 1);
}

// Digits only, at most MAX_REQUEST_BODY + 1 in value (larger values are
// clamped there, so no text of digits can overflow).
bool ParseLength(const std::string& text, size_t& length)
{
    if (text.empty()) return false;
    length = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        length = length * 10 + static_cast<size_t>(c - '0');
        if (length > MAX_REQUEST_BODY) length = MAX_REQUEST_BODY + 1;
    }
    return true;
}

}  // namespace

HttpRequestAssembler::State HttpRequestAssembler::Feed(const char* bytes, size_t count)
{
    if (m_state != NEED_MORE) return m_state;
    m_data.append(bytes, count);
    if (m_headLength != 0) return CheckBody();

    // Look for "\n\n" or "\n\r\n" from where the last look stopped; a line
    // feed among the last two bytes may still turn into a head end.
    size_t limit = m_data.size();
    size_t at = m_scanned;
    while (at < limit) {
        const void* found = std::memchr(m_data.data() + at, '\n', limit - at);
        if (found == nullptr) {
            at = limit;
            break;
        }
        at = static_cast<size_t>(static_cast<const char*>(found) - m_data.data());
        if (at + 1 < limit && m_data[at + 1] == '\n') return HeadComplete(at + 2);
        if (at + 2 < limit && m_data[at + 1] == '\r' && m_data[at + 2] == '\n') return HeadComplete(at + 3);
        if (at + 2 >= limit) break;  // wait for the bytes that decide it
        ++at;
    }
    m_scanned = at;
    if (m_data.size() >= MAX_REQUEST_HEAD) return m_state = HEAD_TOO_LARGE;
    return NEED_MORE;
}

HttpRequestAssembler::State HttpRequestAssembler::HeadComplete(size_t headLength)
{
    if (headLength > MAX_REQUEST_HEAD) return m_state = HEAD_TOO_LARGE;
    m_headLength = headLength;

    ParseHeaders();

    for (const auto& [name, value] : m_headers) {
        if (name == "transfer-encoding") return m_state = UNSUPPORTED_ENCODING;
        if (name != "content-length") continue;
        size_t length;
        if (!ParseLength(value, length)) return m_state = BAD_LENGTH;
        if (m_hasLength && length != m_bodyLength) return m_state = BAD_LENGTH;
        m_hasLength = true;
        m_bodyLength = length;
    }
    if (m_bodyLength > MAX_REQUEST_BODY) return m_state = BODY_TOO_LARGE;
    return CheckBody();
}

void HttpRequestAssembler::ParseHeaders()
{
    // Header lines follow the request line; a line without a colon is not a
    // header and is passed over.
    size_t lineStart = m_data.find('\n');
    while (lineStart != std::string::npos && lineStart + 1 < m_headLength) {
        ++lineStart;
        size_t lineEnd = m_data.find('\n', lineStart);
        if (lineEnd == std::string::npos || lineEnd > m_headLength) lineEnd = m_headLength;
        const void* found = std::memchr(m_data.data() + lineStart, ':', lineEnd - lineStart);
        if (found != nullptr) {
            size_t colon = static_cast<size_t>(static_cast<const char*>(found) - m_data.data());
            std::string name = ToLower(m_data.substr(lineStart, colon - lineStart));
            std::string value = m_data.substr(colon + 1, lineEnd - colon - 1);
            TrimHeaderValue(name);
            TrimHeaderValue(value);
            m_headers.emplace_back(std::move(name), std::move(value));
        }
        lineStart = lineEnd < m_headLength ? lineEnd : std::string::npos;
    }
}

HttpRequestAssembler::State HttpRequestAssembler::CheckBody()
{
    if (m_data.size() < m_headLength + m_bodyLength) return NEED_MORE;
    // Bytes past the body belong to nothing: one request per connection.
    m_data.resize(m_headLength + m_bodyLength);
    return m_state = COMPLETE;
}

HttpRequestAssembler::State HttpRequestAssembler::Finish()
{
    if (m_state != NEED_MORE) return m_state;
    if (m_headLength != 0) return m_state = BAD_LENGTH;
    // A client that sends a bare request line and closes: what arrived is
    // the request, with no body.
    m_headLength = m_data.size();
    ParseHeaders();
    return m_state = COMPLETE;
}

RequestParse ParseRequest(const HttpRequestAssembler& assembler, HttpRequest& request)
{
    std::string raw = assembler.GetHead();
    std::string rest = raw;
    Tokeniser tokeniser;
    if (!tokeniser.Tokenise(rest, request.method)) return RequestParse::NO_METHOD;
    if (request.method == "GET" || request.method == "POST") {
        if (!tokeniser.Tokenise(rest, request.path)) return RequestParse::NO_PATH;
        if (assembler.HasBody()) {
            request.args = assembler.GetBody();
        } else {
            size_t lastBreak = raw.rfind('\n');
            request.args = lastBreak == std::string::npos ? raw : raw.substr(lastBreak + 1);
        }
    }
    request.headers = assembler.GetHeaders();
    return RequestParse::OK;
}

HttpRequestAssembler::State ReadRequest(Socket& socket, std::chrono::steady_clock::time_point deadline,
                                        HttpRequestAssembler& assembler)
{
    char buffer[16384];
    int descriptor = socket.GetDescriptor();
    for (;;) {
        // Most requests are already here when the worker starts: try first,
        // wait only when nothing is waiting.
        ssize_t got = ::recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            HttpRequestAssembler::State state = assembler.Feed(buffer, static_cast<size_t>(got));
            if (state != HttpRequestAssembler::NEED_MORE) return state;
            continue;
        }
        if (got == 0) return assembler.Finish();
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return HttpRequestAssembler::NEED_MORE;

        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return HttpRequestAssembler::NEED_MORE;
        // About to block: what this thread has to say goes out first.
        FlushDeferredLog();
        pollfd waiting{descriptor, POLLIN, 0};
        int ready = ::poll(&waiting, 1, static_cast<int>(left.count()) + 1);
        if (ready < 0 && errno != EINTR) return HttpRequestAssembler::NEED_MORE;
    }
}

}  // namespace Kelm
