// Status lines, heads and error pages for the server's answers; see
// HttpAnswer.h.
#include "httpserver/HttpAnswer.h"

#include "foundation/Strings.h"
#include "httpserver/HttpRequestHandler.h"

namespace Kelm {

const char* StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
    }
}

std::string AnswerHead(int status, const std::string& contentType, uint64_t contentLength,
                       const std::vector<std::string>& extraHeaders)
{
    std::string head;
    head.reserve(128);
    head += "HTTP/1.0 ";
    head += ToString(status);
    head += ' ';
    head += StatusText(status);
    head += "\r\nContent-Type: ";
    head += contentType;
    head += "\r\nContent-Length: ";
    head += std::to_string(contentLength);
    head += "\r\nConnection: close\r\n";
    for (const std::string& header : extraHeaders) {
        for (char c : header) head += (c == '\r' || c == '\n') ? ' ' : c;
        head += "\r\n";
    }
    head += "\r\n";
    return head;
}

bool SendAnswer(Socket& socket, int status, const std::string& contentType, const std::string& body,
                const std::vector<std::string>& extraHeaders)
{
    // One write for head and body: a second small write would wait for the
    // peer's acknowledgement of the first (Nagle) before it leaves.
    std::string answer = AnswerHead(status, contentType, body.size(), extraHeaders);
    answer += body;
    return socket.WriteText(answer);
}

bool SendErrorAnswer(Socket& socket, int status)
{
    std::string title = ToString(status) + " " + StatusText(status);
    return SendAnswer(socket, status, "text/html",
                      "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>\n");
}

std::string ContentTypeForExtension(const std::string& extension)
{
    static const struct {
        const char* extension;
        const char* type;
    } TYPES[] = {
        {"png", "image/png"},
        {"html", "text/html"},
        {"htm", "text/html"},
        {"css", "text/css"},
        {"js", "text/javascript"},
        {"txt", "text/plain"},
        {"csv", "text/csv"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"ico", "image/x-icon"},
        {"svg", "image/svg+xml"},
        {"ttf", "font/ttf"},
    };
    std::string lowered = ToLower(extension);
    for (const auto& each : TYPES) {
        if (lowered == each.extension) return each.type;
    }
    return "application/octet-stream";
}

}  // namespace Kelm
