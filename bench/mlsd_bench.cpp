// A folder of 100,000 entries by MLSD and by LIST, each line to its record as the listing does
// it: MLSD is to cost no more than LIST. Reports lines per second (items_per_second).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"

namespace {

using kestrelkit::net::ftp::FtpLib;

class UnixFtpLib : public FtpLib {
 public:
  UnixFtpLib() { systemType_ = "UNIX"; }
};

constexpr int kEntries = 100000;

std::string twoDigits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

// The same entries both ways: pure-ftpd's MLSD facts, and vsftpd's LIST columns.
std::vector<std::string> mlsdListing() {
  std::vector<std::string> lines;
  lines.reserve(kEntries);
  for (int i = 0; i < kEntries; ++i) {
    const bool folder = i % 10 == 0;
    std::string line =
        folder ? "type=dir;" : "type=file;size=" + std::to_string(i * 7919 % 90000000) + ";";
    line += "modify=2024" + twoDigits(i % 12 + 1) + twoDigits(i % 28 + 1) + twoDigits(i % 24) +
            twoDigits(i % 60) + twoDigits(i % 59) + ";";
    line += "UNIX.mode=0644;UNIX.uid=1000;UNIX.gid=1000;unique=803g" + std::to_string(i) + "; ";
    line += folder ? "folder " + std::to_string(i) : "report " + std::to_string(i) + ".pdf";
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> listListing() {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<std::string> lines;
  lines.reserve(kEntries);
  for (int i = 0; i < kEntries; ++i) {
    const bool folder = i % 10 == 0;
    std::string line =
        folder ? "drwxr-xr-x    2 1000     1000     " : "-rw-r--r--    1 1000     1000     ";
    std::string size = std::to_string(folder ? 4096 : i * 7919 % 90000000);
    line += std::string(12 - size.size(), ' ') + size + " " + kMonths[i % 12] + " ";
    line += (i % 28 < 9 ? " " : "") + std::to_string(i % 28 + 1) + " ";
    line += i % 4 ? twoDigits(i % 24) + ":" + twoDigits(i % 60) : " 2019";
    line += folder ? " folder " + std::to_string(i) : " report " + std::to_string(i) + ".pdf";
    lines.push_back(std::move(line));
  }
  return lines;
}

void BM_MlsdListing100k(benchmark::State& state) {
  const auto lines = mlsdListing();
  for (auto _ : state) {
    for (const auto& line : lines) benchmark::DoNotOptimize(FtpLib::toMlsdFileInfo(line));
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_MlsdListing100k)->Unit(benchmark::kMillisecond);

void BM_ListListing100k(benchmark::State& state) {
  const auto lines = listListing();
  UnixFtpLib connection;
  for (auto _ : state) {
    for (const auto& line : lines) benchmark::DoNotOptimize(connection.toFileInfo(line));
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_ListListing100k)->Unit(benchmark::kMillisecond);

}  // namespace
