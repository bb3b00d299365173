// The launcher's small stand-in for the system call that opens a URL in the
// user's browser, in the same steps: make the text, make and check the URL,
// open it, hand the text back for printing.
//
// Opening runs $BROWSER (when set and not empty), else xdg-open, with the URL
// as its one argument, and waits for it. Whatever the opener prints goes to
// standard error: the launcher's standard output is its own two lines.
#pragma once

#include <string>

namespace Kelm {

// Status codes besides the opener's own exit status.
constexpr int LAUNCH_OK = 0;
constexpr int LAUNCH_BAD_URL = -1;         // the text is not an absolute URL
constexpr int LAUNCH_OPENER_MISSING = -2;  // the opener could not be started
constexpr int LAUNCH_OPENER_KILLED = -3;   // the opener ended by a signal

struct LaunchUrl {
    std::string text;
};

// True when the text is an absolute URL (a scheme, "://", then no blank or
// control character); url then holds it.
bool MakeLaunchUrl(const std::string& text, LaunchUrl& url);

// LAUNCH_OK when the opener ran and exited 0; its exit status when it
// exited with another; one of the negative codes above otherwise.
int OpenLaunchUrl(const LaunchUrl& url);

// Opens the URL and prints "Launch URL: " and "Launch result: " lines.
// Always true: a failure shows only in the result line.
bool LaunchURL(const char* url);

}  // namespace Kelm
