#!/bin/bash
# Settings-file load benchmark: builds the Release configuration, generates a
# typical and the largest possible settings file, and prints load times (the
# daemon's loader beside Python's plistlib on the same files, in the same run)
# and the peak memory of loading the largest file.
#   bench/run_settings_bench.sh [DATA_DIR]   (default build/bench/data)
source "$(dirname "$0")/../scripts/setup.sh"
qz5_install_packages

build="$QZ5_ROOT/build/bench"
data=${1:-$build/data}
echo "== building (Release) in $build"
qz5_build "$build" -DCMAKE_BUILD_TYPE=Release -DQZ5_BUILD_TESTS=OFF -DQZ5_SANITIZE=OFF
bench="$build/bench/bench_settings_load"

echo "== generating settings files in $data"
mkdir -p "$data"
/usr/bin/python3 "$QZ5_ROOT/bench/gen_settings.py" typical "$data/typical.xml"
/usr/bin/python3 "$QZ5_ROOT/bench/gen_settings.py" largest "$data/largest.xml"
ls -l "$data/typical.xml" "$data/largest.xml"

echo "== LoadConfigFile (Google Benchmark, median of 5 repetitions)"
"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$data/bench.json" --benchmark_out_format=json \
  "$data/typical.xml" "$data/largest.xml"

echo "== peak memory while loading the largest file"
"$bench" --peak-rss "$data/largest.xml" | tee "$data/rss.txt"

echo "== Python plistlib on the same files"
/usr/bin/python3 - "$data" <<'PY'
import json, os, plistlib, statistics, sys, time

data = sys.argv[1]

def plistlib_ms(path, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        with open(path, "rb") as f:
            plistlib.load(f)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)

with open(os.path.join(data, "bench.json")) as f:
    report = json.load(f)
ours = {}
for b in report["benchmarks"]:
    if b.get("aggregate_name") == "median":
        name = b["run_name"].split("/")[1]
        ours[name] = b["real_time"]  # milliseconds
rss = dict(line.split() for line in open(os.path.join(data, "rss.txt")))
peak_mb = int(rss["peak_rss_kib"]) * 1024 / 1e6  # MB of 10^6 bytes

rows = []
for name, runs in (("typical.xml", 20), ("largest.xml", 3)):
    py = plistlib_ms(os.path.join(data, name), runs)
    rows.append((name, os.path.getsize(os.path.join(data, name)) / 1e6, ours[name], py))

print()
print(f"{'file':<12} {'size MB':>8} {'qz5 ms':>9} {'plistlib ms':>12} {'speed-up':>9}")
for name, size, ms, py in rows:
    print(f"{name:<12} {size:>8.2f} {ms:>9.2f} {py:>12.1f} {py / ms:>8.1f}x")
print(f"peak RSS loading largest.xml: {peak_mb:.1f} MB "
      f"(before the load {int(rss['rss_before_kib']) * 1024 / 1e6:.1f} MB)")

typical_ms, largest_ms = rows[0][2], rows[1][2]
ratio = rows[1][3] / largest_ms
print()
print("targets:")
for ok, text in ((typical_ms <= 5, f"typical <= 5 ms: {typical_ms:.2f} ms"),
                 (largest_ms <= 1000, f"largest <= 1 s: {largest_ms:.0f} ms"),
                 (ratio >= 5, f"largest >= 5x faster than plistlib: {ratio:.1f}x"),
                 (peak_mb <= 200, f"peak memory <= 200 MB: {peak_mb:.1f} MB")):
    print(f"  {'met   ' if ok else 'MISSED'} {text}")
PY
