// Download job timings against a running FTP server on 127.0.0.1 (bench/download_job.sh starts
// one). Environment: MARLOWICK_BENCH_PORT (user "user", password "secret"), MARLOWICK_BENCH_DEST
// (an empty scratch folder). Served folders: small/ (2,000 files of 4 KiB), big/ (one file of
// 1 GiB), many/ (100,000 entries).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "marlowick/Downloader.h"
#include "marlowick/Logger.h"

namespace {

using marlowick::Downloader;

int serverPort() {
  const char* port = std::getenv("MARLOWICK_BENCH_PORT");
  return port ? std::atoi(port) : 0;
}

std::string scratchFolder() {
  const char* dest = std::getenv("MARLOWICK_BENCH_DEST");
  return dest ? dest : "";
}

/// Sends the job's console lines to /dev/null while it lives, as a redirected run would.
class QuietConsole {
 public:
  QuietConsole() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~QuietConsole() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_ = -1;
};

long peakResidentKilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

/// One job fetching the served folder `remote` into a fresh folder, timed as a whole.
void downloadFolder(benchmark::State& state, const std::string& remote, std::uint32_t files,
                    std::uint64_t bytes) {
  if (serverPort() == 0 || scratchFolder().empty()) {
    state.SkipWithError("MARLOWICK_BENCH_PORT and MARLOWICK_BENCH_DEST are not set");
    return;
  }
  marlowick::logger().openFile(scratchFolder() + "/log.txt");
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string local = scratchFolder() + "/" + remote + "-" + std::to_string(round++);
    state.ResumeTiming();
    Downloader job;
    job.host = "127.0.0.1";
    job.port = serverPort();
    job.username = "user";
    job.password = "secret";
    job.remote = remote;
    job.local = local + "/";
    {
      QuietConsole quiet;
      job.execute();
    }
    state.PauseTiming();
    std::filesystem::remove_all(local);
    if (job.savedCount != files) {
      state.SkipWithError("not every file was saved");
      break;
    }
    state.ResumeTiming();
  }
  marlowick::logger().closeFile();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["files/s"] =
      benchmark::Counter(files, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Download2000Files4KiB(benchmark::State& state) {
  downloadFolder(state, "small", 2000, 2000ull * 4096);
}
BENCHMARK(BM_Download2000Files4KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Download1GiBFile(benchmark::State& state) { downloadFolder(state, "big", 1, 1ull << 30); }
BENCHMARK(BM_Download1GiBFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The scan of the job alone (records only, nothing fetched or printed), with the process's peak
// resident size before and after. Run it in a process of its own for a clean peak.
void BM_Scan100000Entries(benchmark::State& state) {
  if (serverPort() == 0) {
    state.SkipWithError("MARLOWICK_BENCH_PORT is not set");
    return;
  }
  long before = peakResidentKilobytes();
  std::size_t selected = 0;
  for (auto _ : state) {
    kestrelkit::net::ftp::FtpLib ftp;
    if (!ftp.connect("127.0.0.1", serverPort()) || !ftp.login("user", "secret") ||
        !ftp.chdir("many")) {
      state.SkipWithError("no connection to the server");
      break;
    }
    Downloader job;
    job.recurse = true;
    job.scanRemote("", ftp);
    selected = job.files.size();
    benchmark::DoNotOptimize(&job.files);
  }
  state.counters["files"] = static_cast<double>(selected);
  state.counters["peakKiB_before"] = static_cast<double>(before);
  state.counters["peakKiB_after"] = static_cast<double>(peakResidentKilobytes());
}
BENCHMARK(BM_Scan100000Entries)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
