#include "foundation/Tokeniser.h"

#include "foundation/Strings.h"

namespace Kelm {

bool Tokeniser::Tokenise(std::string& line, std::string& token)
{
    Trim(line);
    if (line.empty()) return false;

    // A one-character line is always a whole token, even a lone ":".
    if (line.size() > 1) {
        size_t at = line.find_first_of(" :");
        if (at != std::string::npos) {
            token = line.substr(0, at + 1);
            line = line.substr(at + 1);
            Trim(token);
            Trim(line);
            return true;
        }
    }
    token = line;
    line.clear();
    return true;
}

}  // namespace Kelm
