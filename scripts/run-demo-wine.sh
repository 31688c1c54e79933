#!/usr/bin/env bash
# The Windows part of the main job: builds launcher.exe around the demo application (MinGW-w64
# i686 cross build), starts it under Wine and shows what happened:
#   1. the extraction folder's listing with the attributes and times the files got;
#   2. the demo application's report (its module path, command line, current directory, Path
#      and the library copy it loaded) and a screenshot of its window;
#   3. a second start while the application is open: the launcher's warning box (screenshot);
#   4. the demo application closed again.
# Uses a Wine prefix of its own in the build folder and a virtual X display when none is set.
# Environment: LAUNCHER_OUT (build root, default <repo>/out). Prerequisites: scripts/install-deps.sh.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${LAUNCHER_OUT:-$ROOT/out}
BUILD=$OUT/win32-demo
LOGS=$OUT/logs
RUN=$OUT/demo-run
WAIT_SECONDS=30

source "$ROOT/scripts/lib/wine-env.sh"
trap wine_env_stop EXIT
mkdir -p "$LOGS"

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Waits until exactly `count` X windows are titled "Kelmora" (the demo window, and the
# launcher's warning box, share the title); prints their ids.
wait_kelmora_windows() {
    local count=$1 i ids
    for ((i = 0; i < WAIT_SECONDS * 10; i++)); do
        ids=$(xdotool search --name '^Kelmora$' 2>/dev/null || true)
        if (($(grep -c . <<<"$ids") == count)); then
            [[ -n $ids ]] && echo "$ids"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

screenshot() {
    local file=$1
    if import -window root "$file" 2>>"$LOGS/demo-screenshot.log"; then
        echo "screenshot: $file"
    else
        echo "screenshot failed, see $LOGS/demo-screenshot.log" >&2
    fi
}

echo "==> building launcher.exe around the demo application (MinGW-w64 i686)"
# Only the launcher and the folder lister (tests/e2e) are built, not the test suites.
if ! { cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DLAUNCHER_TESTS=ON &&
    cmake --build "$BUILD" -j 2 --target launcher list_tree; } >"$LOGS/demo-win32-build.log" 2>&1; then
    tail -n 40 "$LOGS/demo-win32-build.log"
    echo "build failed, see $LOGS/demo-win32-build.log" >&2
    exit 1
fi
launcher=$BUILD/launcher/launcher.exe
if [[ ! -f $launcher ]]; then
    echo "no launcher.exe in $BUILD/launcher: the launcher is not part of this tree yet" >&2
    exit 1
fi
echo "built $launcher ($(stat -c %s "$launcher") bytes), payload $BUILD/demo/payload.zip:"
python3 - "$BUILD/demo/payload.zip" <<'EOF'
import sys, zipfile
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    print(f"  {info.filename:<16} {info.file_size:>8} bytes, deflated to {info.compress_size:>7},"
          f" made by system {info.create_system}, attributes 0x{info.external_attr:02x}")
EOF

# The launcher's boxes speak Chinese: a Chinese locale gives Wine the code page and font fallback
# (WenQuanYi Micro Hei) that draw them.
if locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    export LC_ALL=zh_CN.UTF-8
fi

echo "==> starting Wine (prefix $OUT/wine-demo)"
wine_env_start "$OUT/wine-demo" "$LOGS"
echo "display $DISPLAY"

rm -rf "$RUN"
mkdir -p "$RUN/start here"
report=$RUN/report.txt
export ZANDRO_REPORT
ZANDRO_REPORT=$(windows_path "$report")

echo "==> first start: wine launcher.exe (current directory $RUN/start here)"
rc=0
(cd "$RUN/start here" && wine "$launcher") || rc=$?
echo "launcher exit code: $rc"
for ((i = 0; i < WAIT_SECONDS * 10; i++)); do
    [[ -f $report ]] && break
    sleep 0.1
done
if [[ ! -f $report ]]; then
    echo "the demo application wrote no report within ${WAIT_SECONDS}s" >&2
    screenshot "$OUT/demo-screenshot.png"
    exit 1
fi

temp=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
folder=$(winepath -u "$temp" 2>/dev/null)/VORNIX
echo "==> extraction folder $temp\\VORNIX"
echo "as the system reports it (D folder, A archive, R read-only, H hidden, S system, L link):"
wine "$BUILD/tests/e2e/list_tree.exe" "$temp\\VORNIX" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
echo "on disk: $folder"

echo "==> the demo application's report"
sed 's/^/  /' "$report"
window=$(wait_kelmora_windows 1) || { echo "the demo window did not appear" >&2; exit 1; }
sleep 1  # let it paint
screenshot "$OUT/demo-screenshot.png"

echo "==> second start while the application is open"
(cd "$RUN/start here" && wine "$launcher") &
second=$!
if wait_kelmora_windows 2 >/dev/null; then
    sleep 1
    screenshot "$OUT/demo-running-copy.png"
else
    echo "no warning box appeared" >&2
fi
# A close request to the launcher's windows dismisses its message box.
wine taskkill /im launcher.exe >/dev/null 2>&1 || true
rc=0
wait "$second" || rc=$?
echo "second launcher exit code: $rc"

echo "==> closing the demo application"
wine taskkill /im zandro.exe >/dev/null 2>&1 || true
if wait_kelmora_windows 0; then
    echo "demo application closed (window $window gone)"
else
    echo "the demo application did not close" >&2
    exit 1
fi
