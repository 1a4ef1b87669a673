// Throughput of the hot core paths: log entries (each one written through to disk),
// file digests of backup-sized archives, base64 of settings-sized texts.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/log.h"
#include "core/text.h"

namespace {

std::string ScratchDir() {
    char templ[] = "/var/tmp/talvora-bench-XXXXXX";
    const char* dir = mkdtemp(templ);
    return dir ? dir : "/var/tmp";
}

void BM_WriteLog(benchmark::State& state) {
    static std::string dir = ScratchDir();
    InitLogAt(dir);
    std::string body(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) WriteLog("%s\r\n", body.c_str());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteLog)->Arg(100)->Arg(20000);

void BM_FileMd5(benchmark::State& state) {
    static std::string dir = ScratchDir();
    std::string path = dir + "/blob";
    {
        FILE* f = fopen(path.c_str(), "wb");
        std::string block(1 << 20, 'z');
        for (int i = 0; i < state.range(0); ++i) fwrite(block.data(), 1, block.size(), f);
        fclose(f);
    }
    for (auto _ : state) benchmark::DoNotOptimize(FileMd5(path));
    state.SetBytesProcessed(state.iterations() * state.range(0) * (1 << 20));
}
BENCHMARK(BM_FileMd5)->Arg(64);

void BM_Base64RoundTrip(benchmark::State& state) {
    std::string text(static_cast<size_t>(state.range(0)), 'k');
    for (auto _ : state) benchmark::DoNotOptimize(Base64Decode(Base64Encode(text)));
}
BENCHMARK(BM_Base64RoundTrip)->Arg(2000);

}  // namespace

BENCHMARK_MAIN();
