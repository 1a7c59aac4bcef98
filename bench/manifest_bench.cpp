// Manifest load, lookup and save at 10 000 and 100 000 entries: load and save grow
// linearly, a lookup stays constant thanks to the index.
#include "updater/file_manifest.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string scratch_path(int64_t entries) {
    const char *tmp = getenv("TMPDIR");
    return std::string(tmp ? tmp : "/tmp") + "/manifest_bench_" + std::to_string(getpid()) + "_" +
           std::to_string(entries) + ".lst";
}

std::string entry_name(int64_t i) {
    return "executables/client_image_" + std::to_string(i);
}

// Writes a manifest of n entries once per size and returns its path.
std::string manifest_file(int64_t n) {
    std::string path = scratch_path(n);
    if (access(path.c_str(), R_OK) == 0)
        return path;
    tavu_file_manifest m;
    for (int64_t i = 0; i < n; ++i) {
        std::string name = entry_name(i);
        char hash[41];
        snprintf(hash, sizeof hash, "%040llx", (unsigned long long)(i * 2654435761ULL));
        manifest_entry record{name.data(), hash, int32_t(i), nullptr};
        m.update_entry(&record);
    }
    m.save_file(path.c_str());
    return path;
}

void BM_ManifestLoad(benchmark::State &state) {
    std::string path = manifest_file(state.range(0));
    for (auto _ : state) {
        tavu_file_manifest m;
        benchmark::DoNotOptimize(m.load_file(path.c_str()));
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ManifestLookup(benchmark::State &state) {
    std::string path = manifest_file(state.range(0));
    tavu_file_manifest m;
    m.load_file(path.c_str());
    std::string names[64];
    for (int i = 0; i < 64; ++i)
        names[i] = entry_name((int64_t(i) * 7919) % state.range(0));
    int64_t k = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(m.find_entry(names[k++ & 63].c_str()));
    state.SetComplexityN(state.range(0));
}

void BM_ManifestSave(benchmark::State &state) {
    std::string path = manifest_file(state.range(0));
    tavu_file_manifest m;
    m.load_file(path.c_str());
    std::string out = path + ".saved";
    for (auto _ : state)
        benchmark::DoNotOptimize(m.save_file(out.c_str()));
    unlink(out.c_str());
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_ManifestLoad)
    ->Arg(10000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManifestLookup)->Arg(10000)->Arg(100000)->Complexity(benchmark::o1);
BENCHMARK(BM_ManifestSave)
    ->Arg(10000)
    ->Arg(100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(scratch_path(10000).c_str());
    unlink(scratch_path(100000).c_str());
    return 0;
}
