# Sourced by the scripts that run the Windows programs under Wine (test-windows, bench-windows).
# The caller keeps an array prefixes=() of the prefixes to stop when it ends.

# A prefix reporting Windows 10 with one server kept up for every program started in it. Wine
# starts its own services (services.exe, rpcss, winedevice...) with the first program; started
# from here with their output discarded, they cannot hold the output pipe of a test open, which
# would keep ctest (or any caller reading a program's output) waiting after the program ended.
wine_prefix() { # folder
  export WINEPREFIX="$1"
  mkdir -p "$WINEPREFIX"
  prefixes+=("$WINEPREFIX")
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    wine winecfg -v win10 </dev/null >/dev/null 2>&1
    touch "$WINEPREFIX/.ready"
  fi
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot </dev/null >/dev/null 2>&1 || true
}

# COM1 of the current prefix names the pseudo-terminal $1; the server restarts to read it.
map_com1() {
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$1" /f </dev/null >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot </dev/null >/dev/null 2>&1 || true
}
