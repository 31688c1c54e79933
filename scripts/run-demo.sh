#!/usr/bin/env bash
# The main job. On a bare Debian 12 machine (as root) it installs what is missing, then
# scripts/run-demo-wine.sh builds launcher.exe around the demo application and runs it under
# Wine on a virtual display: the extraction folder's listing with attributes, the demo
# application's report, screenshots, and the demo closed again.
# Environment: LAUNCHER_OUT (build root, default <repo>/out).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$ROOT/scripts/install-deps.sh"
exec bash "$ROOT/scripts/run-demo-wine.sh"
