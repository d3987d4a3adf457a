#include "marlowick/BoundsCheck.h"

#include <fmt/format.h>

#include "marlowick/JobSettings.h"

namespace marlowick {
namespace {

using kestrelkit::net::ftp::kOff;
using kestrelkit::net::ftp::kUnknownSize;

constexpr std::uint64_t kKilobyte = 1024;
constexpr std::int64_t kTicksPerMinute = 600000000;

}  // namespace

std::vector<std::string> boundsThatSelectNothing(const JobSettings& job) {
  std::vector<std::string> messages;
  // The walk checks both limits before every entry, so a limit below 1 stops it at the first.
  if (job.maxfiles != kOff && job.maxfiles < 1) {
    messages.push_back(
        fmt::format("The file limit excludes every file (--maxfiles={})", job.maxfiles));
  }
  if (job.maxfolders != kOff && job.maxfolders < 1) {
    messages.push_back(
        fmt::format("The folder limit excludes every file (--maxfolders={})", job.maxfolders));
  }
  // A file listed without a size or a time passes these bounds, so only the others are meant.
  if (job.gsize != kUnknownSize && job.lsize != kUnknownSize && job.gsize > job.lsize) {
    messages.push_back(fmt::format(
        "The size bounds exclude every file of known size (--gsize={} is above --lsize={})",
        job.gsize / kKilobyte, job.lsize / kKilobyte));
  }
  if (job.gmodified != kOff && job.lmodified != kOff && job.gmodified > job.lmodified) {
    messages.push_back(
        fmt::format("The age bounds exclude every file of known time (--gmodified={} is above "
                    "--lmodified={})",
                    job.gmodified / kTicksPerMinute, job.lmodified / kTicksPerMinute));
  }
  return messages;
}

}  // namespace marlowick
