# Sourced by the scripts that run Windows programs under Wine. Defines
#   wine_start  finds Wine, points it at a throwaway prefix in build/wine-prefix
#               or $POINTILLO_WINE_PREFIX (made on first use, without a
#               display or questions), and
#               starts a wine server that the runs share; sets $WINE. In a
#               script called by one that started it already, only sets $WINE.
#   wine_stop   stops that server if this script started it (call it from an
#               EXIT trap)
# Debian's wine64 package puts its loader in /usr/lib/wine, outside PATH.

wine_owner=0

wine_start() {
    WINE=""
    local candidate
    for candidate in wine64 /usr/lib/wine/wine64 wine; do
        if command -v "$candidate" >/dev/null 2>&1; then
            WINE=$(command -v "$candidate")
            break
        fi
    done
    WINESERVER=""
    for candidate in wineserver64 /usr/lib/wine/wineserver64 wineserver /usr/lib/wine/wineserver; do
        if command -v "$candidate" >/dev/null 2>&1; then
            WINESERVER=$(command -v "$candidate")
            break
        fi
    done
    if [[ -z "$WINE" || -z "$WINESERVER" ]]; then
        echo "wine-env: Wine is not installed (Debian: apt-get install wine64)" >&2
        return 1
    fi
    export WINE WINESERVER
    local prefix=${POINTILLO_WINE_PREFIX:-$PWD/build/wine-prefix}
    if [[ "${POINTILLO_WINE_RUNNING:-}" == "$prefix" ]]; then
        return 0
    fi
    export WINEPREFIX="$prefix"
    export WINEDEBUG=-all
    # No Mono or Gecko: nothing asks to install them.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot --init </dev/null >/dev/null 2>&1 || true
        "$WINESERVER" -w
        if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
            echo "wine-env: could not create the Wine prefix $WINEPREFIX" >&2
            return 1
        fi
    fi
    # One persistent server for every run: each program then starts in a
    # tenth of a second instead of two.
    "$WINESERVER" -p
    # Start Wine's background services now, with nothing of ours open: a
    # service started by a test would inherit that test's output pipe and
    # keep CTest waiting for it to close.
    "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
    wine_owner=1
    export POINTILLO_WINE_RUNNING="$WINEPREFIX"
}

wine_stop() {
    if ((wine_owner)); then
        "$WINESERVER" -k 2>/dev/null || true
        wine_owner=0
    fi
}
