// Reading one whole request off a connection: the head up to its blank
// line, then as many body bytes as Content-Length says, under one total
// deadline.
//
// HttpRequestAssembler is the part that knows HTTP framing and nothing about
// sockets: it is fed bytes in whatever pieces the network delivers and says
// when the request is whole, so a request split at any byte is read exactly
// like one that came in a single packet. The limits (16 KiB of head, 64 KiB
// of body) bound the memory a client can make a worker hold.
//
//     HttpRequestAssembler assembler;
//     while (assembler.Feed(bytes, count) == HttpRequestAssembler::NEED_MORE) { ...read more... }
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "httpserver/HttpRequestHandler.h"
#include "net/Socket.h"

namespace Kelm {

constexpr size_t MAX_REQUEST_HEAD = 16 * 1024;
constexpr size_t MAX_REQUEST_BODY = 64 * 1024;

class HttpRequestAssembler {
public:
    enum State {
        NEED_MORE,             // the request is not whole yet
        COMPLETE,              // head and body are here
        HEAD_TOO_LARGE,        // no blank line within MAX_REQUEST_HEAD bytes
        BODY_TOO_LARGE,        // Content-Length above MAX_REQUEST_BODY
        BAD_LENGTH,            // Content-Length not a number, or two that differ
        UNSUPPORTED_ENCODING,  // a Transfer-Encoding (chunked bodies are not read)
    };

    // Adds the bytes and returns the state; once the state is not NEED_MORE
    // further bytes are ignored.
    State Feed(const char* bytes, size_t count);
    // The peer closed its side. A head without its blank line is taken as
    // the whole request (COMPLETE, with what arrived); a body cut short is
    // BAD_LENGTH.
    State Finish();
    State GetState() const { return m_state; }

    // The head, including its blank line when it had one.
    std::string GetHead() const { return m_data.substr(0, m_headLength); }
    std::string GetBody() const { return HasBody() ? m_data.substr(m_headLength, m_bodyLength) : std::string(); }
    bool HasBody() const { return m_hasLength; }
    // Names lower-cased, values without surrounding blanks, tabs and line ends.
    const std::vector<std::pair<std::string, std::string>>& GetHeaders() const { return m_headers; }
    size_t GetReceived() const { return m_data.size(); }

private:
    State HeadComplete(size_t headLength);
    void ParseHeaders();
    State CheckBody();

    State m_state = NEED_MORE;
    std::string m_data;
    size_t m_scanned = 0;     // m_data before this holds no head end
    size_t m_headLength = 0;  // 0 until the blank line is found
    bool m_hasLength = false;
    size_t m_bodyLength = 0;
    std::vector<std::pair<std::string, std::string>> m_headers;
};

enum class RequestParse {
    OK,
    NO_METHOD,  // nothing but blanks: "Failed to tokenise query string."
    NO_PATH,    // GET or POST alone: "Failed to tokenise after GET/POST."
};

// Method, target, args and headers of a whole request. Tokens come off the
// front of the raw head and end at a blank or a colon (the colon stays on
// its token), so "GET /a:b" has the target "/a:" and a target followed
// directly by its line end runs on into the next line. The target and
// args are only taken for GET and POST. The args are the body when the
// request has one, else the last line of the head.
RequestParse ParseRequest(const HttpRequestAssembler& assembler, HttpRequest& request);

// Reads from the socket into the assembler until the request is whole, the
// peer closes, a limit is hit, a receive fails or the deadline passes. The
// result is the assembler's state; NEED_MORE means the read failed or the
// deadline passed, and nothing should be answered.
HttpRequestAssembler::State ReadRequest(Socket& socket, std::chrono::steady_clock::time_point deadline,
                                        HttpRequestAssembler& assembler);

}  // namespace Kelm
