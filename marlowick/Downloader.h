#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScan.h"
#include "marlowick/FileFetcher.h"
#include "marlowick/JobSettings.h"
#include "marlowick/LocalName.h"

namespace marlowick {

/// One download job: its settings (set by the owner directly) and its state, carried out by
/// one call of `execute`.
class Downloader : public JobSettings {
 public:
  Downloader() = default;
  /// A copy has the settings, the files and the record of local names, but fetches afresh.
  Downloader(const Downloader& other);
  Downloader& operator=(const Downloader& other);
  virtual ~Downloader() = default;

  /// ASCII transfers; returns true.
  virtual bool setAscii();
  /// Binary transfers; returns true.
  virtual bool setImage();
  /// Scans the remote tree from `startPath` with the job's filters into `files`; true when at
  /// least one file was selected.
  virtual bool scanRemote(const std::string& startPath, kestrelkit::net::ftp::FtpLib& ftp);
  /// The whole job: connect, log in, scan, fetch (or list). True when the transfer loop was
  /// reached and finished. Never throws.
  virtual bool execute();
  /// Makes every folder on the way to the local file `localPath`. Throws std::runtime_error
  /// with the reason when one cannot be made.
  virtual void createFolders(const std::string& localPath);
  /// Prints the settings table to the console; returns true.
  virtual bool printSettings();

  kestrelkit::net::ftp::FtpFileList files;
  std::uint32_t savedCount = 0;

 protected:
  /// Steps 2 to 13 of the job on an open connection object; may throw.
  virtual bool runJob(kestrelkit::net::ftp::FtpLib& ftp);
  /// One selected file over the job's first connection: check its name, skip, list or fetch
  /// it, and report the outcome.
  virtual void handleFile(kestrelkit::net::ftp::FtpLib& ftp,
                          const kestrelkit::net::ftp::FtpFileInfo& record, std::size_t position,
                          std::size_t count);

 private:
  /// `scanRemote` that tells `selected` of each selected file as soon as it is selected.
  bool scanAndOffer(const std::string& startPath, kestrelkit::net::ftp::FtpLib& ftp,
                    kestrelkit::net::ftp::FtpScanSelected selected,
                    kestrelkit::net::ftp::FtpScanAhead* ahead = nullptr);
  /// The scan of a job over several connections: the others list folders ahead of it, and fetch
  /// the files it selects unless the job only lists them. True when a file was selected.
  bool scanOnCrew(kestrelkit::net::ftp::FtpLib& ftp);
  /// Another try at a listing that failed, on a new session when the connection was lost;
  /// false when the tries are used up or no session can be opened.
  bool retryListing(kestrelkit::net::ftp::FtpLib& ftp, const std::string& folder, int attempt);
  /// The files of the job's first connection, made with the settings as they are when it is
  /// first needed (the server's answer to UTF-8 names known).
  FileFetcher& fetcher();

  LocalNames localNames_;
  std::unique_ptr<FileFetcher> fetcher_;
  /// Why the scan's session could not be opened again at the last try, if it could not.
  std::string reconnectFailure_;
  /// Set when a listing's tries ran out on a session that could not be opened again: the
  /// reason every folder still to list fails with.
  std::string listingGone_;
};

/// Makes one folder exist, recording it in the process-wide set of folders made or found.
/// Throws std::runtime_error with the folder path and the reason on failure.
void ensureFolder(const std::string& folder);

/// The process-wide record of local folders made or found to exist.
bool folderRecorded(const std::string& folder);

}  // namespace marlowick
