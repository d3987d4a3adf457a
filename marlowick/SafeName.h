#pragma once

#include <string>
#include <string_view>

namespace marlowick {

/// True when `name`, appended to a local folder, names a file below that folder: a relative
/// path whose components ("/" and "\" both separate them) are neither empty nor "..", whose
/// last component is not ".", and which holds no NUL byte. Anything else could write outside
/// the folder, onto the folder itself, or somewhere other than what the messages show.
bool isSafeRelativeName(std::string_view name);

/// `name` for a message, with nothing a terminal would obey: bytes below 0x20 and 0x7F, and the
/// UTF-8 forms of U+0080 to U+009F, are written as \xNN (\xC2\xNN).
std::string visibleName(std::string_view name);

}  // namespace marlowick
