// Loudness from third-octave levels: the fixed-size core every other
// loudness function runs.
#include <benchmark/benchmark.h>

#include <vector>

#include "quarnelo.h"

static void BM_LoudnessFromLevels(benchmark::State &state) {
    std::vector<double> levels(28);
    for (int i = 0; i < 28; ++i) levels[i] = 40.0 + 2.0 * i;  // a rising spectrum, every band audible
    std::vector<double> specific(240);
    double loudness = 0;
    const qn_sound_field field = static_cast<qn_sound_field>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            qn_loudness_from_levels(levels.data(), 28, field, &loudness, specific.data(), 240));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoudnessFromLevels)->Arg(QN_SOUND_FIELD_FREE)->Arg(QN_SOUND_FIELD_DIFFUSE);

