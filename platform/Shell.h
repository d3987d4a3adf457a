#pragma once

#include <string>

namespace platform {

/// Hands a path or web address to the desktop's open action, detached: never waited for, its
/// output discarded. Failures (no open action installed, say) are ignored.
void openDetached(const std::string& target);

}  // namespace platform
