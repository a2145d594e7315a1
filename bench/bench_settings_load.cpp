// Load time of settings files: LoadConfigFile into m_Config, as the daemon
// loads its settings file.
//
//   bench_settings_load [--benchmark_* flags] FILE...
//       one benchmark per FILE
//   bench_settings_load --peak-rss FILE
//       loads FILE once and prints the process's peak resident memory before
//       and after the load, in KiB: "rss_before_kib N" and "peak_rss_kib N"
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "config/qz5_config.hpp"
#include "config/xmlconfig.hpp"

namespace {

long PeakRssKib() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;  // KiB on Linux
}

bool LoadOnce(const std::string& path) {
    xmlconfig reader;
    xmlconfig::setConfigfileName(path);
    return reader.LoadConfigFile();
}

void BM_LoadConfigFile(benchmark::State& state, const std::string& path) {
    if (!LoadOnce(path)) {
        state.SkipWithError(("cannot read " + path).c_str());
        return;
    }
    for (auto _ : state) {
        const bool ok = LoadOnce(path);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peak-rss") == 0) {
        // The record is static storage; touch it first so that the figure
        // before the load already includes it, as it does in the daemon.
        std::memset(&m_Config, 0, sizeof m_Config);
        const long before = PeakRssKib();
        if (!LoadOnce(argv[2])) {
            std::fprintf(stderr, "bench_settings_load: cannot read %s\n", argv[2]);
            return 1;
        }
        std::printf("rss_before_kib %ld\npeak_rss_kib %ld\n", before, PeakRssKib());
        return 0;
    }

    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: bench_settings_load [--benchmark_* flags] FILE...\n"
                     "       bench_settings_load --peak-rss FILE\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        benchmark::RegisterBenchmark(("LoadConfigFile/" + BaseName(path)).c_str(), BM_LoadConfigFile, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
