// SPDX-License-Identifier: Apache-2.0
// JSON throughput on realistic array answers: jsonxx parsing and writing, next to nlohmann::json
// (parse and write) and simdjson (parse only) on the same text in the same run, when those
// libraries were found at configure time. Each benchmark counts one document as one item, so
// the ratio of items per second between two rows is the ratio of their speeds.
#include <benchmark/benchmark.h>

#include <string>

#include "JsonCorpus.h"
#include "jsonxx.h"

#ifdef KYBENCH_HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef KYBENCH_HAVE_SIMDJSON
#include <simdjson.h>
#endif

namespace {

const std::string& volumes() {
    static const std::string text = bench::listVolumesAnswer(1000);
    return text;
}

const std::string& snapshots() {
    static const std::string text = bench::snapshotListing(10000);
    return text;
}

void account(benchmark::State& state, size_t bytesPerDocument) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytesPerDocument));
}

void jsonxxParse(benchmark::State& state, const std::string& (*corpus)()) {
    const std::string& text = corpus();
    for (auto _ : state) {
        jsonxx::Array document;
        if (!document.parse(text)) {
            state.SkipWithError("jsonxx refused the corpus");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    account(state, text.size());
}

// Bytes processed are the bytes written, so MB/s reads as output speed.
void jsonxxWrite(benchmark::State& state, const std::string& (*corpus)()) {
    jsonxx::Array document;
    if (!document.parse(corpus())) {
        state.SkipWithError("jsonxx refused the corpus");
        return;
    }
    size_t written = 0;
    for (auto _ : state) {
        const std::string text = document.json();
        written = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    account(state, written);
}

#ifdef KYBENCH_HAVE_NLOHMANN
void nlohmannParse(benchmark::State& state, const std::string& (*corpus)()) {
    const std::string& text = corpus();
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
        if (document.is_discarded()) {
            state.SkipWithError("nlohmann::json refused the corpus");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    account(state, text.size());
}

// Tab indentation, one level per container, like jsonxx's layout.
void nlohmannWrite(benchmark::State& state, const std::string& (*corpus)()) {
    const nlohmann::json document = nlohmann::json::parse(corpus());
    size_t written = 0;
    for (auto _ : state) {
        const std::string text = document.dump(1, '\t');
        written = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    account(state, written);
}
#endif

#ifdef KYBENCH_HAVE_SIMDJSON
// simdjson's DOM parser, reused between documents as it is meant to be.
void simdjsonParse(benchmark::State& state, const std::string& (*corpus)()) {
    const simdjson::padded_string text(corpus());
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element document;
        if (parser.parse(text).get(document) != simdjson::SUCCESS) {
            state.SkipWithError("simdjson refused the corpus");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    account(state, text.size());
}
#endif

}  // namespace

BENCHMARK_CAPTURE(jsonxxParse, volumes1000, volumes);
BENCHMARK_CAPTURE(jsonxxParse, snapshots10000, snapshots);
BENCHMARK_CAPTURE(jsonxxWrite, volumes1000, volumes);
BENCHMARK_CAPTURE(jsonxxWrite, snapshots10000, snapshots);
#ifdef KYBENCH_HAVE_NLOHMANN
BENCHMARK_CAPTURE(nlohmannParse, volumes1000, volumes);
BENCHMARK_CAPTURE(nlohmannParse, snapshots10000, snapshots);
BENCHMARK_CAPTURE(nlohmannWrite, volumes1000, volumes);
BENCHMARK_CAPTURE(nlohmannWrite, snapshots10000, snapshots);
#endif
#ifdef KYBENCH_HAVE_SIMDJSON
BENCHMARK_CAPTURE(simdjsonParse, volumes1000, volumes);
BENCHMARK_CAPTURE(simdjsonParse, snapshots10000, snapshots);
#endif

BENCHMARK_MAIN();
