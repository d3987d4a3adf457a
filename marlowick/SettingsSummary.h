#pragma once

#include <string>

namespace marlowick {

class Downloader;

/// The settings table of `job`: one row " label       : value" per setting that has a value
/// (empty texts and switched-off limits have none, and "Files" only when the scan found some),
/// each with a line end, then one more line end.
std::string settingsTable(const Downloader& job);

/// The log's first line about a job that is about to run: "Job: host H port P user U remote R
/// local L settings --retries=5 ...", so that one run can be told from the next (and two that
/// overlap from each other) when the log is read back. Never the password; control bytes are
/// shown as \xNN.
std::string jobLine(const Downloader& job);

}  // namespace marlowick
