#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpFileInfo.h"
#include "kestrelkit/net/ftp/FtpLib.h"

namespace kestrelkit::net::ftp {

/// Listings made ahead of a walk, elsewhere (on other connections), for the walk to take in its
/// own order. The walk judges what it takes exactly as a listing of its own, so that nothing it
/// selects or says depends on where a listing was made.
class FtpScanAhead {
 public:
  virtual ~FtpScanAhead() = default;

  /// The walk needs the listing of `folder` now. True when a whole listing of it was made ahead:
  /// its records then went to `take` in server order, and `overlongLines` tells how many lines
  /// it left out. False when there is none (not listed ahead, failed, cut short): the walk lists
  /// the folder itself.
  virtual bool take(const std::string& folder, const FtpListSink& take,
                    std::size_t& overlongLines) = 0;
  /// The walk met the first subfolder in `folder`, at `level` below its start (0 for the start
  /// folder), after the files before it were selected: `subfolders` are that one and the folders
  /// after it, named as listed, which may be listed ahead.
  virtual void entered(const std::string& folder, int level,
                       const std::vector<std::string>& subfolders) = 0;
};

}  // namespace kestrelkit::net::ftp
