#pragma once

#include <string>
#include <string_view>

namespace companion {

bool isValidUtf8(std::string_view text);

// Removes white space and line breaks, Unicode's as well as ASCII's, from both ends of valid
// UTF-8 text.
std::string trimWhitespaceAndNewlines(std::string_view text);

}  // namespace companion
