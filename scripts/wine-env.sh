# Sourced by the scripts: a private, quiet Wine prefix inside the build tree,
# so no run touches ~/.wine and every machine starts from the same state.
export WINEPREFIX="${WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi

# The tests start Wine hundreds of times. Left alone, every start brings up
# its own wineserver and Wine's services and waits seconds for them to stop,
# and a start that meets a server on its way down fails at once. One
# persistent server, with the services started here and detached from the
# caller's output (which they would otherwise hold open), serves every start
# of the run. Stop it with stop_wine_session.
start_wine_session() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1 || true
}

stop_wine_session() {
  wineserver -k 2>/dev/null || true
}
