#!/usr/bin/env bash
# The Windows build under Wine against the native build: builds the product's launcher (the
# `launcher` target, cross-built with MinGW-w64 and natively) around the benchmark payloads app
# (3 MB), big (100 MB) and many (10,000 small files) and around tiny (zandro.exe alone), each
# payload's zandro.exe a program that ends at once, and times first starts on a tmpfs, interleaved, in a Wine prefix of its own
# (bench/wine_compare.py). Prints per payload the native and the Wine median and their ratio, and
# the fixed cost: the tiny launcher less a program that does nothing, natively and under Wine.
#   bench/wine_bench.sh                       7 timed rounds
#   bench/wine_bench.sh --runs N              N timed rounds
#   bench/wine_bench.sh --baseline SOURCE     also the launchers built from another source tree
#                                             (an earlier version, e.g. `git worktree add`), run
#                                             beside in every round
# Results (table.md, results.json) go to out/winbench/results. Environment: LAUNCHER_OUT (build
# root, default <repo>/out), BENCH_SCRATCH (a tmpfs folder, default /dev/shm).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${LAUNCHER_OUT:-$ROOT/out}
WORK=$OUT/winbench
LOGS=$OUT/logs
RUNS=7
BASELINE=
while (($# > 0)); do
    case $1 in
        --runs) RUNS=$2; shift ;;
        --baseline) BASELINE=$(cd "$2" && pwd); shift ;;
        *) echo "wine bench: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done

bash "$ROOT/scripts/install-deps.sh"
mkdir -p "$WORK" "$LOGS"
source "$ROOT/scripts/lib/wine-env.sh"
trap wine_env_stop EXIT

log=$LOGS/winbench-build.log
: >"$log"
step() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log"; echo "wine bench: failed, see $log" >&2; exit 1; }; }

echo "wine bench: building the programs that do nothing, the timer and the payloads (log: $log)"
step g++ -O2 -o "$WORK/child" "$ROOT/bench/child.cpp"
step i686-w64-mingw32-g++ -O2 -static -mwindows -o "$WORK/noop.exe" "$ROOT/bench/child.cpp"
step i686-w64-mingw32-g++ -O2 -static -municode -o "$WORK/wine_timer.exe" "$ROOT/bench/wine_timer.cpp"
step /usr/bin/python3 "$ROOT/bench/make_payloads.py" "$WORK/payloads-native" "$WORK/child" app big many tiny
step /usr/bin/python3 "$ROOT/bench/make_payloads.py" "$WORK/payloads-win32" "$WORK/noop.exe" app big many tiny

# build_launchers TAG SOURCE: WORK/TAG/native-<payload> and WORK/TAG/win32-<payload>.exe, the
# product's launcher target of SOURCE around each payload.
build_launchers() {
    local tag=$1 source=$2 kind payload
    mkdir -p "$WORK/$tag"
    for kind in native win32; do
        local build=$WORK/build-$tag-$kind options=(-DCMAKE_BUILD_TYPE=Release -DLAUNCHER_TESTS=OFF)
        [[ $kind == win32 ]] && options+=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake")
        for payload in app big many tiny; do
            echo "wine bench: $tag $kind launcher around $payload"
            step cmake -S "$source" -B "$build" -G Ninja "${options[@]}" \
                -DLAUNCHER_PAYLOAD="$WORK/payloads-$kind/$payload.zip"
            step cmake --build "$build" -j 2 --target launcher
            if [[ $kind == win32 ]]; then
                cp "$build/launcher/launcher.exe" "$WORK/$tag/win32-$payload.exe"
            else
                cp "$build/launcher/launcher" "$WORK/$tag/native-$payload"
            fi
        done
    done
}
build_launchers new "$ROOT"
tags=new
if [[ -n $BASELINE ]]; then
    build_launchers baseline "$BASELINE"
    tags=new,baseline
fi

echo "wine bench: starting Wine (prefix $WORK/wine)"
wine_env_start "$WORK/wine" "$LOGS"
/usr/bin/python3 "$ROOT/bench/wine_compare.py" "$WORK" --runs "$RUNS" --tags "$tags" \
    ${BENCH_SCRATCH:+--scratch "$BENCH_SCRATCH"}
