// Parsing cost for long token lists and for very long tokens; all of these must stay far below
// one second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "util/Arguments.h"

namespace {

using Tokens = std::vector<std::string>;

void runParse(benchmark::State& state, const Tokens& tokens) {
  std::size_t bytes = 0;
  for (const std::string& token : tokens) bytes += token.size();
  for (auto _ : state) {
    util::Arguments arguments;
    arguments.declare("justPrint").anyNumberOfValues().addAlias({"justprint", "JUSTPRINT", "test"});
    arguments.declare("lsize").anyNumberOfValues().addAlias("1size");
    arguments.declare("lmodified").anyNumberOfValues().addAlias("1modified");
    benchmark::DoNotOptimize(arguments.parse(tokens));
    benchmark::DoNotOptimize(arguments.values("lsize").size());
  }
  state.counters["tokens"] = static_cast<double>(tokens.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

constexpr int kManyTokens = 100'000;

void BM_MixedTokens(benchmark::State& state) {
  static const char* const kShapes[] = {"--lsize=1", "2", "-ab=3",  "--name:x=y",
                                        "--1size=4", "5", "--test", "--host"};
  Tokens tokens;
  for (int i = 0; i < kManyTokens; ++i) tokens.emplace_back(kShapes[i % 8]);
  runParse(state, tokens);
}
BENCHMARK(BM_MixedTokens)->Unit(benchmark::kMillisecond);

void BM_ValuesOfOneArgument(benchmark::State& state) {
  Tokens tokens{"--lsize"};
  for (int i = 1; i < kManyTokens; ++i) tokens.push_back(std::to_string(i));
  runParse(state, tokens);
}
BENCHMARK(BM_ValuesOfOneArgument)->Unit(benchmark::kMillisecond);

void BM_DistinctNames(benchmark::State& state) {
  Tokens tokens;
  for (int i = 0; i < kManyTokens; ++i) tokens.push_back("--name" + std::to_string(i) + "=v");
  runParse(state, tokens);
}
BENCHMARK(BM_DistinctNames)->Unit(benchmark::kMillisecond);

constexpr std::size_t kHuge = 8u << 20;

void BM_HugeValueAfterSeparator(benchmark::State& state) {
  runParse(state, {"--include=" + std::string(kHuge, 'x')});
}
BENCHMARK(BM_HugeValueAfterSeparator)->Unit(benchmark::kMillisecond);

void BM_HugeLongName(benchmark::State& state) { runParse(state, {"--" + std::string(kHuge, 'x')}); }
BENCHMARK(BM_HugeLongName)->Unit(benchmark::kMillisecond);

void BM_HugeShortToken(benchmark::State& state) {
  runParse(state, {"-" + std::string(kHuge, 'x') + "=v"});
}
BENCHMARK(BM_HugeShortToken)->Unit(benchmark::kMillisecond);

void BM_ManyLargeValues(benchmark::State& state) {
  Tokens tokens{"--lsize"};
  for (std::int64_t i = 0; i < state.range(0); ++i) tokens.emplace_back(std::size_t{1} << 20, 'v');
  runParse(state, tokens);
}
BENCHMARK(BM_ManyLargeValues)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
