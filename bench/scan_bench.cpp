// Cost of the remote tree scan.
//
// BM_ScanInMemory: the walk and the acceptance test (patterns, bounds) over a large tree whose
// listings come from memory, so that nothing but the scan itself is timed; once without filters
// to tell the walk's share from the filters' share.
// BM_ScanServer: a recursive scan against a real FTP server, registered only when
// SCAN_BENCH_PORT names its port on 127.0.0.1 (user "user", password "secret"); run it through
// bench/scan_server_bench.sh, which also times the same listings with Python's ftplib.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScan.h"

namespace {

using kestrelkit::net::ftp::FtpFileInfo;
using kestrelkit::net::ftp::FtpFileType;
using kestrelkit::net::ftp::FtpLib;
using kestrelkit::net::ftp::FtpScan;
namespace ticks = kestrelkit::net::ftp::ticks;

/// Serves listings from memory, as a server would send them.
class MemoryFtp : public FtpLib {
 public:
  std::map<std::string, std::vector<FtpFileInfo>> listings;

  bool listEach(const std::string& path, const kestrelkit::net::ftp::FtpListSink& take) override {
    auto found = listings.find(path);
    if (found == listings.end()) return false;
    for (FtpFileInfo record : found->second) take(std::move(record));
    return true;
  }
};

FtpFileInfo record(std::string name, FtpFileType type, std::uint64_t size, std::int64_t time) {
  FtpFileInfo info;
  info.name = std::move(name);
  info.type = type;
  info.size = size;
  info.modifyTime = time;
  return info;
}

/// `folders` top-level folders of `files` files each, plus one nested folder per folder.
void fillTree(MemoryFtp& ftp, int folders, int files, std::int64_t now) {
  static const char* const kExtensions[] = {".txt", ".csv", ".log", ".tmp", ".txt~"};
  std::vector<FtpFileInfo>& top = ftp.listings[""];
  for (int f = 0; f < folders; ++f) {
    std::string folder = "folder" + std::to_string(f);
    top.push_back(record(folder, FtpFileType::folder, 0, now));
    std::vector<FtpFileInfo>& inside = ftp.listings[folder];
    inside.push_back(record("data", FtpFileType::folder, 0, now));
    ftp.listings[folder + "/data"] = {record("nested.csv", FtpFileType::file, 4096, now)};
    for (int i = 0; i < files; ++i) {
      std::string name = "report-" + std::to_string(i) + kExtensions[i % 5];
      std::int64_t age = static_cast<std::int64_t>(i % 90) * ticks::kPerDay;
      inside.push_back(
          record(name, FtpFileType::file, 100u * static_cast<std::uint64_t>(i), now - age));
    }
  }
}

void BM_ScanInMemory(benchmark::State& state) {
  MemoryFtp ftp;
  FtpScan scan(ftp);
  fillTree(ftp, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), scan.scanStart);
  if (state.range(2) != 0) {
    scan.includes = {"*.txt", " *.csv ", "*/data/*"};
    scan.excludes = {"*~", "folder1?/*", "*tmp*"};
    scan.minSize = 1024;
    scan.maxAge = 60 * ticks::kPerDay;
  }
  std::size_t records = 0;
  for (auto _ : state) {
    scan.scan("", true);
    records = scan.files().size();
    benchmark::DoNotOptimize(records);
  }
  std::int64_t perScan = state.range(0) * (state.range(1) + 2);
  state.SetItemsProcessed(state.iterations() * perScan);
  state.counters["accepted"] = static_cast<double>(records);
}
// Arguments: folders, files per folder, filters on (1) or off (0).
BENCHMARK(BM_ScanInMemory)
    ->Args({100, 100, 1})
    ->Args({100, 1000, 0})
    ->Args({100, 1000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_ScanServer(benchmark::State& state, int port) {
  FtpLib ftp;
  if (!ftp.connect("127.0.0.1", port) || !ftp.login("user", "secret") || !ftp.setPassiveMode()) {
    state.SkipWithError("cannot reach the server");
    return;
  }
  FtpScan scan(ftp);
  for (auto _ : state) scan.scan("", true);
  state.counters["folders"] = static_cast<double>(scan.folders().size());
  state.counters["files"] = static_cast<double>(scan.files().size());
  state.counters["errors"] = static_cast<double>(scan.errors().size());
  state.counters["per_list"] =
      benchmark::Counter(static_cast<double>(state.iterations() * (scan.folders().size() + 1)),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const bool kServerRegistered = [] {
  const char* port = std::getenv("SCAN_BENCH_PORT");
  if (port == nullptr) return false;
  benchmark::RegisterBenchmark("BM_ScanServer", BM_ScanServer, std::atoi(port))
      ->Unit(benchmark::kMillisecond)
      ->MinTime(3.0)
      ->UseRealTime();
  return true;
}();

}  // namespace
