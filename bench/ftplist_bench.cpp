// FtpLib::list of one large folder on a real server. The server comes from the environment
// (FTP_BENCH_PORT, FTP_BENCH_PATH; user "user", password "secret" on 127.0.0.1), as set up by
// bench/ftplist_compare.sh, which also times plain clients on the same folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kestrelkit/net/ftp/FtpLib.h"

namespace {

void BM_ListLargeFolder(benchmark::State& state) {
  const char* port = std::getenv("FTP_BENCH_PORT");
  const char* path = std::getenv("FTP_BENCH_PATH");
  if (port == nullptr) {
    state.SkipWithError("FTP_BENCH_PORT is not set; run bench/ftplist_compare.sh");
    return;
  }
  kestrelkit::net::ftp::FtpLib connection;
  if (!connection.connect("127.0.0.1", std::atoi(port)) || !connection.login("user", "secret")) {
    state.SkipWithError("cannot log in");
    return;
  }
  connection.setPassiveMode();
  std::vector<kestrelkit::net::ftp::FtpFileInfo> records;
  for (auto _ : state) {
    if (!connection.list(path ? path : "", records)) state.SkipWithError("list failed");
  }
  state.counters["records"] = static_cast<double>(records.size());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(records.size()));
}
BENCHMARK(BM_ListLargeFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
