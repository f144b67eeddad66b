// Encoding and decoding a large listing answer, timed against a memcpy of the same bytes in the same run.
// After the benchmarks it prints "paramblock.<op>_vs_memcpy <ratio>" for each operation that ran.

#include "paramblock/ParamBlock.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A directory of 100,000 entries (78 MB): the size at which per-element costs of decoding showed.
constexpr int kRecords = 100000;

// A REQ_LIST_DIR answer: one 784-byte directory entry per child.
const std::vector<uint8_t>& ListingAnswer() {
    static const std::vector<uint8_t> bytes = [] {
        CParamBlock block;
        std::vector<uint8_t> entry(CParamValue::RecordSize(PK_RECORD5));
        for (int i = 0; i < kRecords; ++i) {
            std::snprintf(reinterpret_cast<char*>(entry.data()), entry.size(), "file%05d.dat", i);
            block.At(i).SetTypedRecord(PK_RECORD5, entry.data());
        }
        std::vector<uint8_t> out;
        block.Encode(out);
        return out;
    }();
    return bytes;
}

void BM_Memcpy(benchmark::State& state) {
    const auto& src = ListingAnswer();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void BM_Decode(benchmark::State& state) {
    const auto& src = ListingAnswer();
    CParamBlock block;
    for (auto _ : state) {
        block.Decode(src.data(), src.size());
        benchmark::ClobberMemory();
    }
    if (block.Count() != kRecords)
        state.SkipWithError("listing did not decode whole");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void BM_Encode(benchmark::State& state) {
    const auto& src = ListingAnswer();
    CParamBlock block;
    block.Decode(src.data(), src.size());
    // Sized before timing, as the baseline's destination is: growing it is not encoding.
    std::vector<uint8_t> out;
    block.Encode(out);
    for (auto _ : state) {
        block.Encode(out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (out != src)
        state.SkipWithError("encoding differs from the answer");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode)->Unit(benchmark::kMicrosecond);

// Console output as usual, keeping the best time per iteration of each benchmark for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;
    std::map<std::string, double> best; // seconds per iteration

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            double seconds = run.real_accumulated_time / double(run.iterations);
            auto [it, inserted] = best.emplace(run.run_name.function_name, seconds);
            if (!inserted)
                it->second = std::min(it->second, seconds);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Colour only on a terminal, so that logs and pipes get plain lines.
    RatioReporter reporter(isatty(fileno(stdout)) ? RatioReporter::OO_Defaults : RatioReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto base = reporter.best.find("BM_Memcpy");
    if (base == reporter.best.end())
        return 0;
    for (const char* op : {"decode", "encode"}) {
        std::string name = std::string("BM_") + char(op[0] - 'a' + 'A') + (op + 1);
        if (auto it = reporter.best.find(name); it != reporter.best.end())
            std::printf("paramblock.%s_vs_memcpy %.3f\n", op, it->second / base->second);
    }
    return 0;
}
