#!/usr/bin/env bash
# What a user needs to ship an application: builds, in release form, launcher.exe (the 32-bit
# Windows launcher, around the demo application) and the packing tool twice, launcher-pack for
# this machine and launcher-pack.exe for Windows. On a bare Debian 12 machine (as root) it
# installs what is missing first. Puts the three in one folder, <build root>/release, and prints
# it with the packing command of the README's next step, ready with their real paths.
# Environment: LAUNCHER_OUT (build root, default <repo>/out), LAUNCHER_JOBS (default: all cores).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${LAUNCHER_OUT:-$ROOT/out}
JOBS=${LAUNCHER_JOBS:-$(nproc)}
mkdir -p "$OUT/logs"

bash "$ROOT/scripts/install-deps.sh"

# Runs a step with its output in a log; on failure shows the log's end.
step() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        echo "build-release: failed, last lines of $log:" >&2
        tail -n 40 "$log" >&2
        exit 1
    fi
}

echo "build-release: building launcher.exe and launcher-pack.exe (MinGW-w64, Release)"
step "$OUT/logs/release-win32-configure.log" cmake -S "$ROOT" -B "$OUT/release-win32" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DLAUNCHER_TESTS=OFF
step "$OUT/logs/release-win32-build.log" cmake --build "$OUT/release-win32" -j "$JOBS" \
    --target launcher launcher-pack
echo "build-release: building launcher-pack for this machine (Release)"
step "$OUT/logs/release-native-configure.log" cmake -S "$ROOT" -B "$OUT/release-native" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_TESTS=OFF
step "$OUT/logs/release-native-build.log" cmake --build "$OUT/release-native" -j "$JOBS" \
    --target launcher-pack

RELEASE=$OUT/release
mkdir -p "$RELEASE"
cp "$OUT/release-win32/launcher/launcher.exe" "$OUT/release-win32/packer/launcher-pack.exe" \
    "$OUT/release-native/packer/launcher-pack" "$RELEASE/"

cat <<DONE
build-release: done; the three programs are in $RELEASE:
  launcher.exe        the launcher that carries your application
  launcher-pack       the packing tool for this machine
  launcher-pack.exe   the packing tool for Windows
Pack your application's folder (step 2 of the README) with your own names and texts:
  $RELEASE/launcher-pack --main-program MyApp.exe --texts en \\
      $RELEASE/launcher.exe my-app-folder MyApp-setup.exe
DONE
