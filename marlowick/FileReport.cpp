#include "marlowick/FileReport.h"

#include <fmt/format.h>

#include "marlowick/ConsoleOutput.h"

namespace marlowick {

bool FileReport::add(std::string text, bool isInfo) {
  entries_.push_back({std::move(text), isInfo, 0});
  return isInfo;
}

void FileReport::announce(std::string display, std::size_t position) {
  entries_.push_back({std::move(display), true, position});
}

void FileReport::report(std::size_t count) const {
  MessageBatch batch;
  for (const Entry& entry : entries_) {
    if (entry.position == 0) {
      batch.add(entry.text, entry.isInfo);
    } else {
      batch.add(fmt::format(" Downloading {} {}/{} ...", entry.text, entry.position, count), true);
    }
  }
  batch.report();
}

}  // namespace marlowick
