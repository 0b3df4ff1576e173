#pragma once

#include <string>
#include <string_view>

namespace companion {

// One shell word that stands for exactly the given text: the text between single quotes, each
// single quote in it written as '\''. Nothing else needs escaping inside single quotes.
std::string shellQuoted(std::string_view text);

}  // namespace companion
