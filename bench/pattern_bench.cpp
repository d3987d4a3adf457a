// Cost of one name-pattern match, for ordinary and adversarial pairs. Every case must stay
// well below 100 microseconds per match.
#include <benchmark/benchmark.h>

#include <string>

#include "kestrelkit/net/ftp/PatternMatch.h"

namespace {

using kestrelkit::net::ftp::patternMatch;

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

void runMatch(benchmark::State& state, const std::string& pattern, const std::string& name) {
  bool matched = false;
  for (auto _ : state) {
    matched = patternMatch(name, pattern);
    benchmark::DoNotOptimize(matched);
  }
  state.counters["matched"] = matched ? 1 : 0;
}

const std::string kLongName(255, 'a');

void BM_Ordinary(benchmark::State& state) { runMatch(state, "*.txt", "sub/deeper/report.txt"); }
BENCHMARK(BM_Ordinary)->Unit(benchmark::kMicrosecond);

void BM_SevenStarsMiss(benchmark::State& state) { runMatch(state, "*a*a*a*a*a*a*a*b", kLongName); }
BENCHMARK(BM_SevenStarsMiss)->Unit(benchmark::kMicrosecond);

// Fails only at the first step, so nothing can be cut short.
void BM_SevenStarsLateMiss(benchmark::State& state) {
  runMatch(state, "b*a*a*a*a*a*a*a*", kLongName);
}
BENCHMARK(BM_SevenStarsLateMiss)->Unit(benchmark::kMicrosecond);

void BM_ManyStarsMiss(benchmark::State& state) {
  runMatch(state, repeated("*a", 60) + "*b", kLongName);
}
BENCHMARK(BM_ManyStarsMiss)->Unit(benchmark::kMicrosecond);

void BM_StarsAndQuestionMarksMiss(benchmark::State& state) {
  runMatch(state, repeated("*?", 40) + "b", kLongName);
}
BENCHMARK(BM_StarsAndQuestionMarksMiss)->Unit(benchmark::kMicrosecond);

void BM_ClassesMiss(benchmark::State& state) {
  runMatch(state, repeated("*[!b]", 30) + "*[xyzb]", kLongName);
}
BENCHMARK(BM_ClassesMiss)->Unit(benchmark::kMicrosecond);

// The largest pair a listing can give: a 255-byte name against a 255-byte pattern.
void BM_LongestPatternMiss(benchmark::State& state) {
  runMatch(state, repeated("*a", 127) + "b", kLongName);
}
BENCHMARK(BM_LongestPatternMiss)->Unit(benchmark::kMicrosecond);

void BM_LongestPatternLateMiss(benchmark::State& state) {
  runMatch(state, "b" + repeated("*a", 127), kLongName);
}
BENCHMARK(BM_LongestPatternLateMiss)->Unit(benchmark::kMicrosecond);

void BM_LongestClassPatternHit(benchmark::State& state) {
  runMatch(state, repeated("*[!b]", 51), kLongName);
}
BENCHMARK(BM_LongestClassPatternHit)->Unit(benchmark::kMicrosecond);

void BM_LongestPatternHit(benchmark::State& state) {
  runMatch(state, repeated("*a", 127) + "*", kLongName);
}
BENCHMARK(BM_LongestPatternHit)->Unit(benchmark::kMicrosecond);

}  // namespace
