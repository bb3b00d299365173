// HTML escaping for every text that reaches a page from outside: host names
// typed into the add form or read from server.txt, the request text shown by
// the error page, posted fields. Escaping happens where such a text is put
// into a page, never earlier, so nothing is escaped twice.
#pragma once

#include <string>

namespace Kelm {

// The text with &, <, >, " and ' replaced by their character references;
// every other byte unchanged. Safe inside element text and inside attribute
// values in double or single quotes.
std::string HtmlEscape(const std::string& text);

}  // namespace Kelm
