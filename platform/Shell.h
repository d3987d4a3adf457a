#pragma once

#include <string>

namespace platform {

/// Hands a path or web address to the desktop's open action, detached: its output discarded,
/// and never waited for beyond a short while to learn whether it failed. False when there is no
/// open action or it failed in that while (a machine without a desktop), so the caller can show
/// the target instead.
bool openDetached(const std::string& target);

}  // namespace platform
