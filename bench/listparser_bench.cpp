// Listing lines to records: toFileInfo over a realistic UNIX long listing, plus the bare parser
// and the other dialects. Reports lines per second (items_per_second).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/ListParser.h"

namespace {

using kestrelkit::net::ftp::FtpLib;

class UnixFtpLib : public FtpLib {
 public:
  UnixFtpLib() { systemType_ = "UNIX"; }
};

// A listing as vsftpd or pyftpdlib write it: a summary line, folders and files, recent dates
// with a time and older ones with a year, names with blanks, a link.
std::vector<std::string> unixListing() {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<std::string> lines = {"total 4096"};
  for (int i = 0; i < 1000; ++i) {
    const bool folder = i % 10 == 0;
    std::string line = folder ? "drwxr-xr-x    2 " : "-rw-r--r--    1 ";
    line += i % 3 ? "ftpuser  ftpgroup " : "1000     1000     ";
    std::string size = std::to_string(folder ? 4096 : (i * 7919) % 90000000);
    line += std::string(12 - size.size(), ' ') + size + " " + kMonths[i % 12] + " ";
    line += (i % 28 < 9 ? " " : "") + std::to_string(i % 28 + 1) + " ";
    line += i % 4 ? "1" + std::to_string(i % 10) + ":" + std::to_string(10 + i % 50) : " 2019";
    line += folder ? " folder " + std::to_string(i) : " report " + std::to_string(i) + ".pdf";
    lines.push_back(line);
  }
  lines.push_back("lrwxrwxrwx    1 0        0               7 Jan 29  2024 bin -> usr/bin");
  return lines;
}

void BM_ToFileInfoUnixListing(benchmark::State& state) {
  const auto lines = unixListing();
  UnixFtpLib connection;
  for (auto _ : state) {
    for (const auto& line : lines) benchmark::DoNotOptimize(connection.toFileInfo(line));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}
BENCHMARK(BM_ToFileInfoUnixListing);

void BM_ParseListLineUnixListing(benchmark::State& state) {
  const auto lines = unixListing();
  for (auto _ : state) {
    for (const auto& line : lines) {
      kestrelkit::net::ftp::ListLineFacts facts;
      benchmark::DoNotOptimize(
          kestrelkit::net::ftp::parseListLine(facts, line.data(), line.size()));
      benchmark::DoNotOptimize(facts);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}
BENCHMARK(BM_ParseListLineUnixListing);

void BM_ToFileInfoOtherDialects(benchmark::State& state) {
  const std::vector<std::string> lines = {
      "04-27-00  09:09PM       <DIR>          licensed",
      "02-14-2024  11:05AM             48128 budget 2024.xlsx",
      "CORE.DIR;1      1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)",
      "README.TXT;4  2  30-JUL-2004 07:58 [SYSTEM] (RWED,RWED,RE,RE)",
      "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF",
  };
  UnixFtpLib connection;
  for (auto _ : state) {
    for (const auto& line : lines) benchmark::DoNotOptimize(connection.toFileInfo(line));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}
BENCHMARK(BM_ToFileInfoOtherDialects);

}  // namespace
