// Cost of building configuration packets into a ring: a boolean write, a two-electrode clear
// and a parameter text (parse, encode and one sequence packet per train).
#include "client/KestClient.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>

namespace {

// A ring large enough that the writer laps it rarely; nobody reads it.
struct Target {
    Network::CircularKestBuffer ring{16u << 20, "benchConfig"};
    KestRingSink sink{ring};
    KestClient client{&sink};

    Target() {
        std::map<unsigned, std::pair<unsigned, unsigned>> table;
        for (unsigned e = 0; e < 32; ++e) {
            table[e] = {1, 100 + e};
        }
        client.SetStimAddr(table);
    }
};

void BM_SendBool(benchmark::State& state) {
    Target target;
    bool value = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(target.client.SendBool(0, 3, value));
        value = !value;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendBool);

void BM_SendStimClear(benchmark::State& state) {
    Target target;
    const std::vector<int> electrodes = {5, 9};
    for (auto _ : state) {
        benchmark::DoNotOptimize(target.client.SendStimClear(electrodes, 1));
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_SendStimClear);

void BM_SendStimCmd(benchmark::State& state) {
    Target target;
    const std::string text = "Elect=1,2,3,4;TL=100,100,100,100;Freq=50,50,50,50;"
                             "Dur=0.2,0.2,0.2,0.2;Amp=10,10,10,10";
    for (auto _ : state) {
        benchmark::DoNotOptimize(target.client.SendStimCmd(text));
    }
    state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_SendStimCmd);

} // namespace
