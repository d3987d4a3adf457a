#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace marlowick {

/// The messages of one file fetched alongside others, kept until they can be reported together.
/// The file's announcement names its position among all selected files, which is only known
/// once the scan is over: it is written out then.
class FileReport {
 public:
  /// Keeps one message; returns `isInfo`, like `printAndLog`.
  bool add(std::string text, bool isInfo);
  /// Keeps the " Downloading {} {}/{} ..." announcement of the file at `position`.
  void announce(std::string display, std::size_t position);
  /// Reports every kept message through `printAndLog`, in order and without another thread's
  /// line in between, with `count` selected files in all.
  void report(std::size_t count) const;

 private:
  struct Entry {
    std::string text;
    bool isInfo;
    std::size_t position;  // of an announcement; 0 for a plain message
  };
  std::vector<Entry> entries_;
};

}  // namespace marlowick
