#include "capture/ShellQuoting.h"

namespace companion {

std::string shellQuoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    for (const char c : text) {
        if (c == '\'') {
            // Close the quoted run, add an escaped quote, reopen.
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

}  // namespace companion
