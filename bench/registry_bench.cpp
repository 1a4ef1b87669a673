// Parsing a Wine registry file whose value name runs to megabytes ahead of wrapped hex
// data: the cost has to grow with the file, not with name length times line count.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/wine_registry_file.h"

namespace {

std::string LongNameFile(size_t nameBytes, int lines) {
    std::string text =
        "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
        "Uninstall\\\\Big] 1\n\"";
    // "=" is what the wrapped-line check looked for, so a name of them is the worst case.
    text += std::string(nameBytes, '=');
    text += "\"=hex:";
    for (int i = 0; i < lines; ++i) text += "01,02,03,04,05,06,07,08,\\\n  ";
    text += "00\n";
    return text;
}

void BM_ParseLongNameWrappedHex(benchmark::State& state) {
    const std::string text = LongNameFile(static_cast<size_t>(state.range(0)) << 20, 4000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::winereg::Parse(text, L"", L""));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseLongNameWrappedHex)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
