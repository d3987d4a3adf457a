#pragma once

#include <string>

namespace marlowick {

class Downloader;

/// The settings table of `job`: one row " label       : value" per setting that has a value
/// (empty texts and switched-off limits have none, and "Files" only when the scan found some),
/// each with a line end, then one more line end.
std::string settingsTable(const Downloader& job);

}  // namespace marlowick
