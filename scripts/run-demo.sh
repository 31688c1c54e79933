#!/usr/bin/env bash
# The main job. On a bare Debian 12 machine (as root) it installs what is missing, builds, and
# runs the product on its built-in demo payload:
#   - with the Windows part present (scripts/run-demo-wine.sh, whose output this is): builds
#     launcher.exe around the demo application and runs it under Wine on a virtual display;
#   - without it, lists a sample archive through the reader with tools/ziplist.
# Environment: LAUNCHER_OUT (build root, default <repo>/out).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${LAUNCHER_OUT:-$ROOT/out}
export LAUNCHER_OUT=$OUT
mkdir -p "$OUT/logs"

bash "$ROOT/scripts/install-deps.sh"

if [[ -f "$ROOT/scripts/run-demo-wine.sh" ]]; then
    exec bash "$ROOT/scripts/run-demo-wine.sh"
fi

echo "==> building (native)"
if ! { cmake -S "$ROOT" -B "$OUT/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$OUT/native" -j 2; } >"$OUT/logs/demo-build.log" 2>&1; then
    tail -n 60 "$OUT/logs/demo-build.log"
    echo "build failed, see $OUT/logs/demo-build.log" >&2
    exit 1
fi

lister="$OUT/native/tools/ziplist"
if [[ ! -x "$lister" ]]; then
    echo "nothing to run yet: neither the launcher nor tools/ziplist is built" >&2
    exit 1
fi

# A sample application folder, zipped by Info-ZIP's zip (Unix-made attributes, extended
# timestamps, a directory entry, a read-only file).
sample="$OUT/demo-sample"
rm -rf "$sample"
mkdir -p "$sample/app/data"
printf 'main program\n' >"$sample/app/zandro.exe"
printf 'library\n' >"$sample/app/helper.dll"
printf 'settings=1\n' >"$sample/app/data/settings.ini"
chmod a-w "$sample/app/data/settings.ini"
touch -d '2021-06-15 12:34:56 UTC' "$sample/app/zandro.exe"
(cd "$sample/app" && zip -q -r ../sample.zip . -x '.')
chmod u+w "$sample/app/data/settings.ini"

echo "==> entries of the sample archive $sample/sample.zip"
"$lister" "$sample/sample.zip"
