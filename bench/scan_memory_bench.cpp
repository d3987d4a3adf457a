// Peak heap of the download job's scan of one folder of many entries, against the size of the
// selected records themselves, with everything or nothing selected. Every C++ allocation of the
// process is counted (live bytes and their peak) by the replaced global operator new and delete
// below; the process's peak resident size is reported too (run one benchmark per process for it).
//
// Needs a server on 127.0.0.1:MARLOWICK_BENCH_PORT (user "user", password "secret") with a
// folder many/ of plain files; bench/scan_memory.sh makes one with 100,000 entries and runs this.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "kestrelkit/net/ftp/FtpLib.h"
#include "kestrelkit/net/ftp/FtpScan.h"
#include "marlowick/Downloader.h"

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* counted(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::size_t now =
      liveBytes.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
  std::size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return block;
}

void uncounted(void* block) {
  if (block == nullptr) return;
  liveBytes.fetch_sub(malloc_usable_size(block));
  std::free(block);
}

int serverPort() {
  const char* text = std::getenv("MARLOWICK_BENCH_PORT");
  return text == nullptr ? 0 : std::atoi(text);
}

// What the records take: each record, and the heap behind its texts when they do not fit inside.
std::size_t recordBytes(const kestrelkit::net::ftp::FtpFileList& records) {
  std::size_t bytes = 0;
  for (const auto& record : records) {
    bytes += sizeof record;
    const std::string empty;
    if (record.name.capacity() > empty.capacity()) bytes += record.name.capacity() + 1;
    if (record.mediaType.capacity() > empty.capacity()) bytes += record.mediaType.capacity() + 1;
  }
  return bytes;
}

using Files = kestrelkit::net::ftp::FtpFileList;

// Scans many/ (recursively) with `scan`, which leaves the selected records in its argument, and
// reports the heap it took at its peak and what stays.
template <typename Scan>
void measure(benchmark::State& state, Scan scan) {
  if (serverPort() == 0) {
    state.SkipWithError("MARLOWICK_BENCH_PORT is not set");
    return;
  }
  for (auto _ : state) {
    kestrelkit::net::ftp::FtpLib ftp;
    if (!ftp.connect("127.0.0.1", serverPort()) || !ftp.login("user", "secret") ||
        !ftp.chdir("many")) {
      state.SkipWithError("no connection to the server");
      break;
    }
    Files files;
    const std::size_t base = liveBytes.load();
    peakBytes.store(base);
    scan(ftp, files);
    const std::size_t peak = peakBytes.load() - base;
    const std::size_t kept = liveBytes.load() - base;
    const std::size_t records = recordBytes(files);
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["recordKiB"] = static_cast<double>(records) / 1024;
    state.counters["keptKiB"] = static_cast<double>(kept) / 1024;
    state.counters["peakKiB"] = static_cast<double>(peak) / 1024;
    state.counters["peak_per_record"] = records == 0 ? 0 : static_cast<double>(peak) / records;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["maxrssMiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  }
}

// The job's own scan: the records move out of the scanner.
void BM_JobScanPeakHeap(benchmark::State& state) {
  measure(state, [](kestrelkit::net::ftp::FtpLib& ftp, Files& files) {
    marlowick::Downloader job;
    job.recurse = true;
    job.scanRemote("", ftp);
    files = std::move(job.files);
  });
}
BENCHMARK(BM_JobScanPeakHeap)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The job's scan when the patterns select nothing: only what the walk needs is held.
void BM_JobScanNothingSelectedPeakHeap(benchmark::State& state) {
  measure(state, [](kestrelkit::net::ftp::FtpLib& ftp, Files& files) {
    marlowick::Downloader job;
    job.recurse = true;
    job.include = "*.none";
    job.scanRemote("", ftp);
    files = std::move(job.files);
  });
}
BENCHMARK(BM_JobScanNothingSelectedPeakHeap)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// For comparison, the records copied out of the scanner, as the job did before.
void BM_CopiedScanPeakHeap(benchmark::State& state) {
  measure(state, [](kestrelkit::net::ftp::FtpLib& ftp, Files& files) {
    kestrelkit::net::ftp::FtpScan scanner(ftp);
    files = scanner.scan("", true).files();
  });
}
BENCHMARK(BM_CopiedScanPeakHeap)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new[](std::size_t size) { return counted(size); }
void operator delete(void* block) noexcept { uncounted(block); }
void operator delete[](void* block) noexcept { uncounted(block); }
void operator delete(void* block, std::size_t) noexcept { uncounted(block); }
void operator delete[](void* block, std::size_t) noexcept { uncounted(block); }
