#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "marlowick/JobSettings.h"
#include "marlowick/LocalName.h"

namespace kestrelkit::net::ftp {
class FtpLib;
}

namespace marlowick {

class FileReport;
class TransferProgress;

/// What became of one selected file.
enum class FileOutcome {
  saved,
  notSaved,        ///< skipped, listed, refused or failed, with its message
  connectionGone,  ///< not handled: the connection is lost for good (see `FileFetcher::handle`)
};

/// Handles the selected files over one connection of a job: checks each name, then skips, lists
/// or fetches the file, trying again after failures that another try may mend (on a new session
/// when the connection was lost), and reports the outcome. One per connection; the fetchers of
/// a job's connections run at once on their threads, sharing only the job's record of local
/// names and its folder maker.
class FileFetcher {
 public:
  /// Makes every folder on the way to a local file; throws std::runtime_error when one cannot
  /// be made.
  using FolderMaker = std::function<void(const std::string& localPath)>;

  FileFetcher(JobSettings settings, LocalNames& names, FolderMaker makeFolders);

  /// Handles `record`, the file at `position` of `count`; its messages go to `report`, or out at
  /// once when it is null (`count` is then the number of files). When the connection is lost
  /// and cannot be opened again within the tries, the connection is given up: with
  /// `mayHandBack` the file is then left alone (`connectionGone`, nothing said) for another
  /// connection to take, otherwise it fails. Every later file of a given-up connection fails
  /// at once, without a word to the server.
  FileOutcome handle(kestrelkit::net::ftp::FtpLib& ftp,
                     const kestrelkit::net::ftp::FtpFileInfo& record, std::size_t position,
                     std::size_t count, FileReport* report, bool mayHandBack);

  /// Gives the connection up from the start (it could not be opened), for `reason`.
  void giveUp(std::string reason);

 private:
  using Say = std::function<bool(std::string text, bool isInfo)>;
  enum class Fetched { saved, failed, gone };

  /// Retrieves the file through its part file, with the further tries; false with the reason in
  /// `failure`. In image mode a file shorter than listed fails ("received N of M bytes").
  Fetched fetch(kestrelkit::net::ftp::FtpLib& ftp, const kestrelkit::net::ftp::FtpFileInfo& record,
                const std::string& localPath, const std::string& display, const Say& say,
                std::string& failure);
  /// A lost connection when a binary copy is shorter than listed ("received N of M bytes" in
  /// `failure`), else done.
  platform::Outcome shortfall(const kestrelkit::net::ftp::FtpFileInfo& record,
                              std::uint64_t received, std::string& failure) const;
  /// True when a binary copy continued from a restart point is longer than listed: the server
  /// sent more than the rest of the file.
  bool pastTheEnd(const kestrelkit::net::ftp::FtpFileInfo& record, std::uint64_t received) const;
  /// Opens a new session on a lost connection; false with the reason in `failure`.
  platform::Outcome reopen(kestrelkit::net::ftp::FtpLib& ftp,
                           const std::function<void(const std::string&)>& say,
                           std::string& failure);

  JobSettings settings_;
  LocalNames& names_;
  FolderMaker makeFolders_;
  /// Why the connection was given up; empty while it is in use.
  std::string goneReason_;
  /// The progress line of the file being fetched, while one is shown.
  TransferProgress* progress_ = nullptr;
};

}  // namespace marlowick
