#!/bin/bash
# The daemon's running costs: builds qz5d, qz5ctl, the emulated keyboard and
# the on-screen display helper (Release) into build/bench/, then runs
# bench/daemon_bench.py against them: full-download overhead beyond the
# keyboard's pauses, idle wake-ups and memory, report-to-notification latency.
# Arguments go to daemon_bench.py (e.g. --no-display, --reports 200).
#   bench/run_daemon_bench.sh [ARGS...]
source "$(dirname "$0")/../scripts/setup.sh"
qz5_install_packages

build="$QZ5_ROOT/build/bench"
qz5_step configure-bench.log "configuring build/bench (Release)" \
  cmake -S "$QZ5_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ5_BUILD_TESTS=OFF -DQZ5_SANITIZE=OFF
qz5_step build-bench-daemon.log "building qz5d, qz5ctl, qz5-emulator and qz5-osd in build/bench" \
  cmake --build "$build" --target qz5d qz5ctl qz5-emulator qz5-osd
echo "== load average before: $(cut -d' ' -f1-3 /proc/loadavg) (figures are noisy while other work runs)"
/usr/bin/python3 "$QZ5_ROOT/bench/daemon_bench.py" --build "$build" "$@"
