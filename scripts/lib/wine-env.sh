# Sourced by the scripts that run Windows programs under Wine.
#
# wine_env_start PREFIX_DIR LOG_DIR
#   Creates a fresh Wine prefix in PREFIX_DIR, starts a virtual X display when DISPLAY is unset
#   (message boxes and windows need one), and keeps a wineserver running so that every later
#   Wine start is fast. Exports WINEPREFIX, WINEDEBUG and DISPLAY. Calling it again once the
#   environment is up does nothing.
# wine_env_stop
#   Stops the wineserver (and with it every Windows program of the prefix) and the display that
#   wine_env_start started. Safe to call more than once; meant for an EXIT trap.

WINE_ENV_UP=""
WINE_ENV_XVFB_PID=""

wine_env_start() {
    local prefix logs=$2
    prefix=$(realpath -m "$1")  # Wine takes only an absolute prefix path
    [[ -n "$WINE_ENV_UP" ]] && return 0
    mkdir -p "$logs"

    if [[ -z "${DISPLAY:-}" ]]; then
        local fdfile="$logs/xvfb-display"
        rm -f "$fdfile"
        # -displayfd picks a free display number and writes it once the server accepts clients.
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" \
            >"$logs/xvfb.log" 2>&1 &
        WINE_ENV_XVFB_PID=$!
        local i
        for ((i = 0; i < 100; i++)); do
            [[ -s "$fdfile" ]] && break
            if ! kill -0 "$WINE_ENV_XVFB_PID" 2>/dev/null; then
                echo "wine-env: Xvfb did not start, see $logs/xvfb.log" >&2
                WINE_ENV_XVFB_PID=""
                return 1
            fi
            sleep 0.1
        done
        if [[ ! -s "$fdfile" ]]; then
            echo "wine-env: Xvfb gave no display number" >&2
            return 1
        fi
        export DISPLAY=":$(head -n 1 "$fdfile")"
    fi

    export WINEPREFIX=$prefix
    export WINEDEBUG=-all
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineserver -p >"$logs/wineserver.log" 2>&1
    WINE_ENV_UP=1
    # No Mono or Gecko: their install dialogs would wait for a click on the virtual display.
    if ! WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$logs/wineboot.log" 2>&1; then
        echo "wine-env: wineboot failed, see $logs/wineboot.log" >&2
        return 1
    fi
}

wine_env_stop() {
    if [[ -n "$WINE_ENV_UP" ]]; then
        wineserver -k >/dev/null 2>&1 || true
        WINE_ENV_UP=""
    fi
    if [[ -n "$WINE_ENV_XVFB_PID" ]]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=""
    fi
}
