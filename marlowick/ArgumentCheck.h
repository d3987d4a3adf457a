#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace util {
class Arguments;
}

namespace marlowick {

/// The closest name a request understands to `name`, letter case aside, as declared; empty when
/// none is close enough to be the one meant.
std::string closestArgumentName(std::string_view name);

/// Takes out of `tokens` every bare word that follows an argument whose value was already given
/// with "=" or ":" (directly, or after other such words): a word meant as an argument of its own
/// must not replace that value. Returns one message per word taken out.
std::vector<std::string> takeStrayWords(std::vector<std::string>& tokens);

/// One message per argument name in `arguments` that no request understands, with the closest
/// known name when there is one.
std::vector<std::string> unknownArgumentMessages(const util::Arguments& arguments);

}  // namespace marlowick
