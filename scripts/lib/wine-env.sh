# Shared by scripts/test, scripts/demo and the benchmarks: a display, a private
# Wine prefix with code page 936, a persistent wineserver and the local HTTP
# servers, all stopped again by qova_stop_all. Order: qova_require_wine_env,
# qova_display_start, qova_wine_prefix.
#
# Expects $root (the checkout) and $build (the build directory) to be set.

qova_started_pids=()

# The commands and data this file runs on (scripts/lib/packages.sh).
qova_require_wine_env() {
  qova_require_commands wine wineserver Xvfb xdpyinfo python3 localedef
  qova_require_packages locales fonts-arphic-gbsn00lp
}

qova_wine_env() {
  export WINEPREFIX=${QOVA_WINEPREFIX:-$build/wineprefix}
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # The ANSI code page follows LC_ALL; a compiled locale keeps Chinese
  # arguments and file names intact inside Wine. The tests also run programs
  # under other Windows languages (en_US 1252, ja_JP 932, zh_TW 950).
  export LOCPATH=$build/locale
  local locale
  for locale in zh_CN en_US ja_JP zh_TW; do
    if [ ! -d "$LOCPATH/$locale.UTF-8" ]; then
      mkdir -p "$LOCPATH"
      localedef -i "$locale" -f UTF-8 "$LOCPATH/$locale.UTF-8" >/dev/null 2>&1 || true
    fi
  done
  # (The shell itself may not find the private locale: its warning is noise.)
  # QOVA_LOCALE=en_US (ja_JP, zh_TW) runs everything under another language.
  { export LC_ALL=${QOVA_LOCALE:-zh_CN}.UTF-8; } 2>/dev/null
  # Tests that expect direct connections must not go through a proxy by accident.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY
}

# Song-style font for the dialogs' "宋体", so that a dialog unit is 1.5 pixels.
# A dialog's base units are the font's average Latin width and its cell height:
# "AR PL SungtiL GB" has half-width Latin and ascent + descent of exactly one em,
# so 9 points give 6 x 12 and a 287 x 154 template becomes 431 x 231 pixels.
# (AR PL UMing's taller cell gives 13 and 250 pixels.)
qova_wine_fonts() {
  local key='HKCU\Software\Wine\Fonts\Replacements' name
  for name in "宋体" "SimSun" "新宋体" "NSimSun"; do
    wine reg add "$key" /v "$name" /t REG_SZ /d "AR PL SungtiL GB" /f </dev/null >/dev/null 2>&1
  done
  # Let the server that reg started go away, so that the persistent one can start.
  wineserver -w
}

# No window manager runs on the test display. A window Wine leaves to one (a
# popup with a system menu, like the update dialog) would wait 2 s for it on
# every hide; unmanaged, Wine places and hides its windows itself.
qova_wine_unmanaged() {
  [ -f "$WINEPREFIX/.qova-unmanaged" ] && return 0
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.qova-unmanaged"
}

# Every run starts at 100 % display scale (96 DPI). Wine reads the DPI from
# HKCU\Control Panel\Desktop "LogPixels" when a process starts; the tests that
# show the dialogs at other scales set it for the programs they start and put
# it back (tests/support/DisplayScale.h), but a test killed on the way would
# leave the prefix at its scale.
qova_wine_scale_100() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f </dev/null >/dev/null 2>&1 || true
}

# The user's Internet Options proxy settings of the prefix: "direct, no
# automatic detection". Without the value Wine reports automatic detection
# on, and every run with UseProxy=1 would look for a proxy first; tests that
# need other settings write their own and put this one back.
# Value layout: DWORD 0x46, DWORD counter, DWORD flags (1 direct, 2 proxy,
# 4 PAC URL, 8 detect), then proxy, bypass list and PAC URL, each a DWORD
# length and ASCII text.
qova_wine_proxy_settings_direct() {
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /d 460000000000000001000000000000000000000000000000 /f \
    </dev/null >/dev/null 2>&1
}

qova_wine_prefix() {
  qova_wine_env
  # The prefix's desktop process keeps the display it was started with: it
  # must start after the display is there (qova_display_start), never before.
  [ -n "${DISPLAY:-}" ] || { echo "qova_wine_prefix: no DISPLAY (run qova_display_start first)" >&2; return 1; }
  # A wineserver left from an earlier run may hold a desktop on a display that
  # is gone.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # No DISPLAY: Wine must never wait for a click on a Mono or Gecko offer.
    DISPLAY= wine wineboot -i </dev/null >"$build/wineboot.log" 2>&1
    wineserver -w
    qova_wine_fonts
    touch "$WINEPREFIX/.qova-ready"
  fi
  qova_wine_unmanaged
  wineserver -p </dev/null >/dev/null 2>&1
  # Start Wine's background services now, on the display they will keep and
  # with their output going nowhere: the first program would otherwise start
  # them holding ctest's output pipe, and ctest would wait for that pipe until
  # its timeout. That first program puts the display scale back to 100 %.
  qova_wine_scale_100
}

# Exports DISPLAY: the one already set when its server answers and
# $1 is "shared" (a person may watch the demo there), otherwise a private Xvfb.
qova_display_start() {
  if [ "${1:-}" = shared ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    qova_display_shared=1
    return 0
  fi
  qova_display_shared=0
  qova_xvfb_start
}

qova_xvfb_start() {
  # Xvfb picks the first free display itself (its lock file is taken
  # atomically), so runs started at the same moment never share one.
  local numfile i
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
  qova_started_pids+=($!)
  for i in $(seq 1 100); do
    if [ -s "$numfile" ] && [ -e "/tmp/.X11-unix/X$(tr -dc 0-9 <"$numfile")" ]; then
      export DISPLAY=":$(tr -dc 0-9 <"$numfile")"
      rm -f "$numfile"
      return 0
    fi
    sleep 0.1
  done
  rm -f "$numfile"
  echo "could not start Xvfb" >&2
  return 1
}

# Starts a Python server script with --port-file and waits for its port.
# Usage: qova_start_server VAR script.py [args...]; exports VAR=port.
qova_start_server() {
  local var=$1 script=$2; shift 2
  local portfile
  portfile=$(mktemp)
  rm -f "$portfile"
  python3 "$script" --port-file "$portfile" "$@" </dev/null >>"$build/servers.log" 2>&1 &
  qova_started_pids+=($!)
  local i
  for i in $(seq 1 100); do
    if [ -s "$portfile" ]; then
      export "$var=$(cat "$portfile")"
      rm -f "$portfile"
      return 0
    fi
    sleep 0.1
  done
  echo "server $script did not start" >&2
  return 1
}

qova_test_servers_start() {
  qova_start_server QOVA_TEST_SERVER1 "$root/tests/server/update_server.py"
  qova_start_server QOVA_TEST_SERVER2 "$root/tests/server/update_server.py"
  qova_start_server QOVA_TEST_PROXY "$root/tests/server/proxy_server.py"
}

qova_stop_all() {
  local pid
  for pid in "${qova_started_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${qova_started_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  qova_started_pids=()
  [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1 || true
}
