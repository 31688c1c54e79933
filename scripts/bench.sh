#!/usr/bin/env bash
# The benchmark command: builds the native launcher around each benchmark payload (bench/) and
# times it, whole process against whole process, against unzip, bsdtar, 7z x, python3 -m zipfile
# and the floor, on a tmpfs; prints the table of medians and ratios with the machine's load, and
# the launcher's peak heap around a 3 MB and a 300 MB payload.
#   scripts/bench.sh            all three payloads, 7 timed rounds, memory
#   scripts/bench.sh --quick    the 3 MB payload, one round, no memory (a few seconds; CI)
#   scripts/bench.sh --runs N   N timed rounds
#   scripts/bench.sh --baseline OTHER_BUILD   also the launchers of another build folder made by
#                               this command (an earlier version), run beside in every round
# Results (table.md, results.json, ratios.png) go to out/bench/bench/results. Environment:
# LAUNCHER_OUT (build root, default <repo>/out), BENCH_SCRATCH (a tmpfs folder, default /dev/shm).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${LAUNCHER_OUT:-$ROOT/out}
RUNS=7
PAYLOADS=(app big many)
MEMORY=(--memory)
BASELINE=
while (($# > 0)); do
    case $1 in
        --quick) RUNS=1 PAYLOADS=(app) MEMORY=() ;;
        --runs) RUNS=$2; shift ;;
        --baseline) BASELINE=$2; shift ;;
        *) echo "bench: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done

bash "$ROOT/scripts/install-deps.sh"
mkdir -p "$OUT/logs"
targets=(bench_floor)
for payload in "${PAYLOADS[@]}"; do targets+=("bench_launcher_$payload"); done
((${#MEMORY[@]} > 0)) && targets+=(bench_launcher_app bench_launcher_huge)
echo "bench: building ${targets[*]} in $OUT/bench (log: $OUT/logs/bench-build.log)"
{
    cmake -S "$ROOT" -B "$OUT/bench" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DLAUNCHER_BENCH=ON -DLAUNCHER_TESTS=OFF &&
        cmake --build "$OUT/bench" -j 2 --target "${targets[@]}"
} >"$OUT/logs/bench-build.log" 2>&1 || { tail -n 40 "$OUT/logs/bench-build.log"; exit 1; }

payloads=$(IFS=,; echo "${PAYLOADS[*]}")
exec /usr/bin/python3 "$ROOT/bench/compare.py" "$OUT/bench" --payloads "$payloads" --runs "$RUNS" \
    ${BENCH_SCRATCH:+--scratch "$BENCH_SCRATCH"} ${BASELINE:+--baseline "$BASELINE"} "${MEMORY[@]}"
