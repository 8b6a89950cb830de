// Speed of the whole simulated run and of the two primitives that do the
// most work: list editing and deleting key trees.
#include "machine/footprint.h"
#include "machine/lists.h"
#include "platform/sim/machine.h"
#include "registry/multistring.h"
#include "registry/registry.h"
#include "uninstall/uninstall.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

// The whole run on the installed machine, journal on as in the tests.
static void TypicalRun(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Sim::Reset();
        Footprint::Install();
        state.ResumeTiming();
        benchmark::DoNotOptimize(RunUninstall());
    }
}
BENCHMARK(TypicalRun)->Unit(benchmark::kMicrosecond);

// Removing the last entry of a list that fills the 8192-byte buffer: the
// whole list is measured, walked and compared.
static void RemoveListEntryFullList(benchmark::State& state) {
    Sim::Reset();
    std::u16string list = FullFilterList();
    std::vector<WCHAR> buffer(LIST_BUFFER_SIZE / sizeof(WCHAR));
    for (auto _ : state) {
        std::memcpy(buffer.data(), list.data(), LIST_BUFFER_SIZE);
        benchmark::DoNotOptimize(RemoveListEntry(buffer.data(), LIST_BUFFER_SIZE, "DzStore"));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * LIST_BUFFER_SIZE);
}
BENCHMARK(RemoveListEntryFullList);

// Deleting a tree of 1 + 10 + 100 + 1000 keys, each with a value.
static void DeleteKeyTreeLarge(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Sim::Reset();
        Sim::Current().journalOn = false;
        for (int a = 0; a < 10; ++a)
            for (int b = 0; b < 10; ++b)
                for (int c = 0; c < 10; ++c) {
                    std::string path = "SOFTWARE\\Big\\A" + std::to_string(a) + "\\B" +
                                       std::to_string(b) + "\\C" + std::to_string(c);
                    Sim::SetValue(HKEY_LOCAL_MACHINE, path, "v", REG_SZ, Sim::Sz("x"));
                }
        state.ResumeTiming();
        benchmark::DoNotOptimize(DeleteKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Big"));
    }
    state.SetItemsProcessed((int64_t)state.iterations() * 1111);
}
BENCHMARK(DeleteKeyTreeLarge)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
