// What the library itself costs a host, over a backend that does nothing.
#include <benchmark/benchmark.h>

#include <string>

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"

namespace {

void Listening()
{
    library::Load();
    ZelbinStartListen("COM1");
}

// The floor: the two backend calls a poll makes, without the library.
void BM_BackendCallsOfOnePoll(benchmark::State &state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::IsDriverInstalled());
        benchmark::DoNotOptimize(platform::GetPortBit(0x3FE, 4));
    }
}
BENCHMARK(BM_BackendCallsOfOnePoll);

void BM_PollWhileListening(benchmark::State &state)
{
    Listening();
    for (auto _ : state)
        benchmark::DoNotOptimize(ZelbinIsZBToggle());
    ZelbinStopListen();
}
BENCHMARK(BM_PollWhileListening);

void BM_PollWhileIdle(benchmark::State &state)
{
    library::Load();
    ZelbinStopListen();
    for (auto _ : state)
        benchmark::DoNotOptimize(ZelbinIsZBToggle());
}
BENCHMARK(BM_PollWhileIdle);

void BM_SetToggled(benchmark::State &state)
{
    Listening();
    ZelbinBool toggled = 0;
    for (auto _ : state) {
        toggled ^= 1;
        ZelbinSetToggled(toggled);
    }
    ZelbinStopListen();
}
BENCHMARK(BM_SetToggled);

void BM_StartListen(benchmark::State &state, const char *params)
{
    library::Load();
    for (auto _ : state)
        ZelbinStartListen(params);
    ZelbinStopListen();
}
BENCHMARK_CAPTURE(BM_StartListen, TableName, "COM2");
BENCHMARK_CAPTURE(BM_StartListen, NameWithAddress, "COM9;2E8h");

// Parameter texts of N bytes: a name, an address, then N bytes of ';'
// (every delimiter closes an item, so this is the most items per byte).
void BM_StartListenLongText(benchmark::State &state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    std::string params = "COM2;2F8h";
    params.resize(size, ';');
    library::Load();
    for (auto _ : state)
        ZelbinStartListen(params.c_str());
    ZelbinStopListen();
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_StartListenLongText)->RangeMultiplier(4)->Range(1 << 10, 1 << 20)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
