// Parser throughput: realistic streams fed byte by byte through the framer and parser as the port reader
// feeds them, per sentence family and mixed, each beside the least any reader of the same bytes must do:
// find the sentences and sum their checksums.
#include "bench/BenchTable.h"
#include "bench/SentenceStream.h"
#include "framing/BasicNMEA.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>

namespace {

// About 140 KB per stream: varied enough, and small enough to stay in the cache as a port read does.
constexpr int kStreamSentences = 2000;

// The goals for the mixed stream on one core.
constexpr double kGoalMBps = 200.0;
constexpr double kGoalRatio = 0.40;

const std::string& StreamOf(bench::Family family) {
    static std::string asStreams[bench::FamilyCount];
    std::string& sStream = asStreams[family];
    if (sStream.empty())
        sStream = bench::BuildStream(family, kStreamSentences, 1 + family);
    return sStream;
}

void CountWork(benchmark::State& state, const std::string& sStream) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sStream.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kStreamSentences);
}

void Parser(benchmark::State& state, bench::Family family) {
    const std::string& sStream = StreamOf(family);
    BasicNMEA framer;
    uint32_t uiTaken = 0;
    for (auto _ : state) {
        for (char c : sStream) {
            framer.ProcessByte(static_cast<uint8_t>(c));
            uiTaken += framer.uiLastCode != 0;
        }
    }
    benchmark::DoNotOptimize(uiTaken);
    CountWork(state, sStream);
}

void ChecksumLoop(benchmark::State& state, bench::Family family) {
    const std::string& sStream = StreamOf(family);
    for (auto _ : state) {
        uint32_t uiSum = 0;
        uint8_t byChecksum = 0;
        bool bInBody = false;
        for (char c : sStream) {
            const uint8_t by = static_cast<uint8_t>(c);
            if (by == '$' || by == '!') {
                bInBody = true;
                byChecksum = 0;
            } else if (by == '*') {
                uiSum += bInBody ? byChecksum : 0u;
                bInBody = false;
            } else {
                byChecksum ^= by;
            }
        }
        benchmark::DoNotOptimize(uiSum);
    }
    CountWork(state, sStream);
}

struct Rates {
    double fBytesPerSecond = 0.0;
    double fItemsPerSecond = 0.0;
};

// Shows Google Benchmark's own table on standard error and keeps the median of every benchmark.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    MedianReporter() : benchmark::ConsoleReporter(OO_None) {
        SetOutputStream(&std::cerr);
        SetErrorStream(&std::cerr);
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        benchmark::ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name != "median")
                continue;
            Rates& rates = medians[run.run_name.function_name];
            rates.fBytesPerSecond = run.counters.at("bytes_per_second").value;
            rates.fItemsPerSecond = run.counters.at("items_per_second").value;
        }
    }

    std::map<std::string, Rates> medians;
};

void PrintFamilyRow(bench::Family family, const Rates& parser, const Rates& baseline) {
    const double fMBps = parser.fBytesPerSecond / 1e6;
    const double fRatio = parser.fBytesPerSecond / baseline.fBytesPerSecond;
    char szMeasure[64];
    char szFigure[64];
    char szBaseline[64];
    char szRatio[16];
    char szGoal[64];
    snprintf(szMeasure, sizeof szMeasure, "Parser, %s, %.0f bytes a sentence", bench::FamilyName(family),
             static_cast<double>(StreamOf(family).size()) / kStreamSentences);
    snprintf(szFigure, sizeof szFigure, "%.0f MB/s, %.2f M sentences/s", fMBps, parser.fItemsPerSecond / 1e6);
    snprintf(szBaseline, sizeof szBaseline, "checksum loop %.0f MB/s", baseline.fBytesPerSecond / 1e6);
    snprintf(szRatio, sizeof szRatio, "%.0f %%", fRatio * 100.0);
    if (family == bench::Mixed)
        snprintf(szGoal, sizeof szGoal, ">= %.0f MB/s, >= %.0f %%: %s", kGoalMBps, kGoalRatio * 100.0,
                 fMBps >= kGoalMBps && fRatio >= kGoalRatio ? "met" : "missed");
    else
        snprintf(szGoal, sizeof szGoal, "-");
    bench::PrintRow(szMeasure, szFigure, szBaseline, szRatio, szGoal);
}

} // namespace

int main(int argc, char** argv) {
    // Each family's parser run follows its baseline, so that both see the same state of the machine.
    for (int i = 0; i < bench::FamilyCount; ++i) {
        const bench::Family family = static_cast<bench::Family>(i);
        const std::string sName = bench::FamilyName(family);
        benchmark::RegisterBenchmark(("Checksum loop/" + sName).c_str(), ChecksumLoop, family)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark(("Parser/" + sName).c_str(), Parser, family)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (int i = 0; i < bench::FamilyCount; ++i) {
        const bench::Family family = static_cast<bench::Family>(i);
        const std::string sName = bench::FamilyName(family);
        const auto itParser = reporter.medians.find("Parser/" + sName);
        const auto itBaseline = reporter.medians.find("Checksum loop/" + sName);
        if (itParser != reporter.medians.end() && itBaseline != reporter.medians.end())
            PrintFamilyRow(family, itParser->second, itBaseline->second);
    }
    return 0;
}
