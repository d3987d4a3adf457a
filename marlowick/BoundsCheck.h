#pragma once

#include <string>
#include <vector>

namespace marlowick {

struct JobSettings;

/// One message per limit or pair of bounds of `job` that no file can pass (a file limit below 1,
/// a smallest size above the largest, ...): such a job runs and finds nothing, and should say
/// why before it does.
std::vector<std::string> boundsThatSelectNothing(const JobSettings& job);

}  // namespace marlowick
