// One token at a time off the front of a line. Tokens end at a blank or a
// colon; a colon stays on the end of its token ("Host: a" gives "Host:"), a
// blank disappears in the trim. Used by the data file, the configuration
// file and the HTTP request reader.
//
//     std::string line = "  GET /index.html HTTP/1.1", token;
//     Tokeniser().Tokenise(line, token);   // token "GET", line "/index.html HTTP/1.1"
#pragma once

#include <string>

namespace Kelm {

class Tokeniser {
public:
    // Virtual so a caller may substitute another splitting rule; holders
    // keep it by value or by pointer and never delete through the base.
    virtual bool Tokenise(std::string& line, std::string& token);
};

}  // namespace Kelm
