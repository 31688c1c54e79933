#!/usr/bin/env bash
# The test command. On a bare Debian 12 machine (as root) it installs what is missing, then runs
# every stage and prints a summary:
#   native   GCC build (RelWithDebInfo, warnings as errors) and its ctest suites
#   asan     the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   win32    MinGW-w64 i686 cross build, ctest under Wine (own prefix, own virtual display)
#   fuzz     the libFuzzer targets built with clang, each run for a bounded time
#   format   clang-format check of every C/C++ source of the project
#   bench    the benchmark once on its smallest payload (scripts/bench.sh --quick), to show it works
# All stages run even when one fails; the exit status is non-zero when any failed.
#
# Environment: LAUNCHER_OUT (build root, default <repo>/out), LAUNCHER_FUZZ_SECONDS (default 60),
# LAUNCHER_STAGES (space-separated subset of the stages above, default all).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${LAUNCHER_OUT:-$ROOT/out}
JOBS=2
FUZZ_SECONDS=${LAUNCHER_FUZZ_SECONDS:-60}
STAGES=${LAUNCHER_STAGES:-native asan win32 fuzz format bench}
TEST_TIMEOUT=600  # seconds per ctest test; a hung Wine program must not stall the run

mkdir -p "$OUT/logs"
source "$ROOT/scripts/lib/wine-env.sh"

SUMMARY=()
TOTAL_PASSED=0
TOTAL_FAILED=0
ANY_FAILED=0

say() { echo "==> $*"; }

# Runs a command with its output in a log file; on failure shows the log's end.
logged() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        echo "---- last lines of $log ----"
        tail -n 60 "$log"
        echo "----"
        return 1
    fi
}

# Counts passed/failed/skipped test cases in the GoogleTest XML files of a folder.
count_gtest_cases() {
    python3 - "$1" <<'EOF'
import glob, sys, xml.etree.ElementTree as ET
passed = failed = skipped = 0
for path in glob.glob(sys.argv[1] + "/*.xml"):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        continue
    for case in root.iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.get("status") == "notrun" or case.get("result") in ("skipped", "suppressed") \
                or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
print(passed, failed, skipped)
EOF
}

# Counts passed/failed ctest tests from ctest's JUnit file (a missing file counts nothing).
count_ctest_tests() {
    python3 - "$1" <<'EOF'
import sys, xml.etree.ElementTree as ET
passed = failed = 0
try:
    for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
        if case.get("status") == "fail" or case.find("failure") is not None:
            failed += 1
        elif case.get("status") != "disabled" and case.find("skipped") is None:
            passed += 1
except (OSError, ET.ParseError):
    pass
print(passed, failed)
EOF
}

# Configures (through the preset of the stage's name, in a folder below $OUT) and builds one tree,
# its warnings as errors. Arguments: name, build folder.
configure_and_build() {
    local name=$1 dir=$2
    logged "$OUT/logs/$name-configure.log" \
        cmake -S "$ROOT" --preset "$name" -B "$dir" -DLAUNCHER_WERROR=ON &&
        logged "$OUT/logs/$name-build.log" cmake --build "$dir" -j "$JOBS"
}

# Runs ctest in a build folder, collecting ctest's JUnit file and GoogleTest's XML reports.
# `xml_prefix` goes in front of the GoogleTest report path ("Z:" for a Windows build under Wine).
# Native builds get a TMPDIR of their own; Wine keeps the caller's, since its wineserver socket
# lives there and a different one would start a second server beside the persistent one.
# Sets STAGE_NOTE and STAGE_PASSED/STAGE_FAILED.
run_ctest() {
    local dir=$1 xml_dir=$1/gtest-xml xml_prefix=$2
    rm -rf "$xml_dir" "$dir/ctest-junit.xml"
    mkdir -p "$xml_dir"
    local rc=0 vars=(GTEST_OUTPUT="xml:$xml_prefix$xml_dir/")
    if [[ -z $xml_prefix ]]; then
        mkdir -p "$dir/tmp"
        vars+=(TMPDIR="$dir/tmp")
    fi
    env "${vars[@]}" ctest --test-dir "$dir" --output-on-failure --timeout "$TEST_TIMEOUT" \
        --output-junit "$dir/ctest-junit.xml" || rc=$?
    read -r STAGE_PASSED STAGE_FAILED < <(count_ctest_tests "$dir/ctest-junit.xml")
    local cp cf cs
    read -r cp cf cs < <(count_gtest_cases "$xml_dir")
    STAGE_NOTE="ctest $STAGE_PASSED passed, $STAGE_FAILED failed; cases $cp passed, $cf failed, $cs skipped"
    if ((rc != 0 && STAGE_FAILED == 0)); then
        STAGE_FAILED=1  # ctest itself failed (e.g. a test that could not start)
    fi
    return $rc
}

stage_native() {
    configure_and_build native "$OUT/native" || return 1
    run_ctest "$OUT/native" ""
}

stage_asan() {
    configure_and_build asan "$OUT/asan" || return 1
    ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest "$OUT/asan" ""
}

stage_win32() {
    configure_and_build win32 "$OUT/win32" || return 1
    wine_env_start "$OUT/wine" "$OUT/logs" || return 1
    # Wine maps the Unix root to drive Z:.
    run_ctest "$OUT/win32" "Z:"
}

stage_fuzz() {
    if [[ ! -f "$ROOT/fuzz/CMakeLists.txt" ]]; then
        STAGE_NOTE="no fuzz targets in the tree"
        return 2
    fi
    configure_and_build fuzz "$OUT/fuzz" || return 1
    local targets=() target
    mapfile -t targets < <(find "$OUT/fuzz/fuzz" -maxdepth 1 -type f -executable | sort)
    if ((${#targets[@]} == 0)); then
        STAGE_NOTE="the fuzz build produced no executable"
        return 1
    fi
    local failed=0 notes=()
    for target in "${targets[@]}"; do
        local name work seeds=() log rc=0 execs
        name=$(basename "$target")
        work="$OUT/fuzz/run/$name"
        log="$OUT/logs/fuzz-$name.log"
        rm -rf "$work"
        mkdir -p "$work/corpus" "$work/tmp"
        [[ -d "$ROOT/fuzz/corpus/$name" ]] && seeds=("$ROOT/fuzz/corpus/$name")
        [[ ${#seeds[@]} -eq 0 && -d "$ROOT/fuzz/corpus" ]] && seeds=("$ROOT/fuzz/corpus")
        say "fuzzing $name for ${FUZZ_SECONDS}s (seeds: ${seeds[*]:-none})"
        # New inputs go to the run's own corpus; the seed folder in the tree is only read.
        (cd "$work" && TMPDIR="$work/tmp" \
            ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            "$target" -max_total_time="$FUZZ_SECONDS" -timeout=25 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "${seeds[@]}") \
            >"$log" 2>&1 || rc=$?
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        if ((rc != 0)) || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
            failed=1
            echo "---- $name failed (exit $rc); last lines of $log ----"
            tail -n 60 "$log"
            echo "----"
            notes+=("$name FAILED")
            ((TOTAL_FAILED += 1))
        else
            notes+=("$name ${execs:-?} runs")
            ((TOTAL_PASSED += 1))
        fi
    done
    STAGE_NOTE="${notes[*]} in ${FUZZ_SECONDS}s each"
    return $failed
}

stage_format() {
    local files=()
    if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        mapfile -t files < <(git -C "$ROOT" ls-files -co --exclude-standard -- \
            '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | sed "s|^|$ROOT/|")
    else
        mapfile -t files < <(find "$ROOT" -path "$OUT" -prune -o -type f \
            \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) -print)
    fi
    local bad=() f
    for f in "${files[@]}"; do
        [[ -f "$f" ]] || continue
        clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("${f#"$ROOT"/}")
    done
    STAGE_NOTE="${#files[@]} files checked, ${#bad[@]} not formatted"
    if ((${#bad[@]} > 0)); then
        printf '  needs clang-format: %s\n' "${bad[@]}"
        ((TOTAL_FAILED += 1))
        return 1
    fi
    ((TOTAL_PASSED += 1))
}

stage_bench() {
    if ! LAUNCHER_OUT="$OUT" logged "$OUT/logs/bench.log" bash "$ROOT/scripts/bench.sh" --quick; then
        ((TOTAL_FAILED += 1))
        return 1
    fi
    STAGE_NOTE=$(grep -m1 '^| first start' "$OUT/logs/bench.log" | tr -s ' ')
    ((TOTAL_PASSED += 1))
}

# Runs one stage and records its line of the summary.
run_stage() {
    local name=$1 start=$SECONDS rc=0 status failed_before=$TOTAL_FAILED
    STAGE_NOTE="" STAGE_PASSED=0 STAGE_FAILED=0
    say "stage $name"
    "stage_$name" || rc=$?
    case $rc in
        0) status=passed ;;
        2) status=skipped ;;
        *) status=FAILED ANY_FAILED=1 ;;
    esac
    ((TOTAL_PASSED += STAGE_PASSED, TOTAL_FAILED += STAGE_FAILED))
    if [[ $status == FAILED && $TOTAL_FAILED -eq $failed_before ]]; then
        ((TOTAL_FAILED += 1))  # failed before anything was counted, e.g. in the build
        STAGE_NOTE=${STAGE_NOTE:-"build failed, see $OUT/logs/$name-*.log"}
    fi
    SUMMARY+=("$(printf '%-7s %-8s %4ds  %s' "$name" "$status" $((SECONDS - start)) "$STAGE_NOTE")")
}

trap wine_env_stop EXIT
trap 'exit 130' INT TERM  # through the EXIT trap, so Wine and the display stop too

START=$SECONDS
say "dependencies"
if ! bash "$ROOT/scripts/install-deps.sh"; then
    echo "installing the dependencies failed" >&2
    exit 1
fi

for stage in $STAGES; do
    if ! declare -F "stage_$stage" >/dev/null; then
        echo "unknown stage: $stage" >&2
        exit 1
    fi
    run_stage "$stage"
done
wine_env_stop

{
    echo
    echo "==================== summary ===================="
    printf '%s\n' "${SUMMARY[@]}"
    echo "total time $((SECONDS - START))s"
    echo "$TOTAL_PASSED passed, $TOTAL_FAILED failed"
} | tee "$OUT/logs/summary.txt"
exit $ANY_FAILED
