# The interactive part of scripts/demo, sourced at its end: a newer release is
# published and the update dialog (Update.exe without -silent) goes through
# offer, download, installation and restart; opened once more, it finds
# nothing to do. On the demo's private display the demo presses the buttons,
# on a person's display the person does. A picture of each state is saved as
# $demo_dir/dialog-<state>.png.
#
# Uses scripts/demo's $app, $release, $DEMO_PORT and $answer, the helpers of
# scripts/lib/demo-layout.sh, and clears $ok when the update did not happen.

dialog_version=4.0.1009.0201
qova_require_commands import

# Sets a fault of the demo's update server: demo_fault KIND URL_PATH.
demo_fault() {
  python3 - "$DEMO_PORT" "$1 $2" <<'PY'
import sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
url = "http://127.0.0.1:%s/__admin/fault" % sys.argv[1]
opener.open(urllib.request.Request(url, data=sys.argv[2].encode()), timeout=10)
PY
}

# Client starts and closes logged by the stand-in client so far.
demo_client_count() { grep -c "^$1 " "$app/QOVAClient.log" 2>/dev/null || true; }

# Follows one run of the dialog with DialogTourGui, which presses the buttons on
# the private display and only watches on a person's; prints its pictures.
# Returns DialogTourGui's exit code (0 installed, 3 up to date).
demo_dialog_run() {
  local mode=click rc=0
  [ "$answer" = person ] && mode=watch
  wine "$build/tests/DialogTourGui.exe" "$(demo_winpath "$demo_dir")" "$mode" \
    "$(demo_winpath "$app/QOVAClient.log")" 600 </dev/null >"$demo_dir/tour.out" 2>&1 &
  local tour=$!
  demo_wine "$demo_dir/update-dialog.out" "$app/Update.exe" || true
  wait "$tour" || rc=$?
  tr -d '\r' <"$demo_dir/tour.out" | sed -e 's/^DialogTourGui: /    picture: /' -e 's|Z:\\|/|' -e 's|\\|/|g'
  return $rc
}

demo_say "A newer release, $dialog_version, for the update dialog"
p="$release/1"
demo_write "$p/QOVA.dll" "QOVA core $dialog_version"
demo_write "$p/bin/render.dll" "renderer $dialog_version, night mode"
demo_write "$p/readme.txt" "QOVA client $dialog_version: night mode, world map"
# A large file makes the installation last long enough to be seen.
head -c 24000000 /dev/urandom >"$p/res/world.pak"
rm -f "$p/UpdateConfig.ini" "$p/UpdateConfig.ini.sig"
demo_sign_manifest program "$p" UpdateConfig.ini --version "$dialog_version" --region CN
# The small files arrive a few bytes a second, so the bar moves file by file.
for f in QOVA.dll bin/render.dll readme.txt; do demo_fault trickle "/1/$f"; done
echo "    changed: QOVA.dll bin/render.dll readme.txt (served slowly), res/world.pak (24 MB, new)"

demo_wine "$demo_dir/reg.out" reg add 'HKLM\SOFTWARE\QOVA' /f
if [ "$(demo_client_count start)" -le "$(demo_client_count close)" ]; then
  wine "$app/QOVAClient.exe" </dev/null >"$demo_dir/client.out" 2>&1 &
  for i in $(seq 1 150); do [ "$(demo_client_count start)" -gt "$(demo_client_count close)" ] && break; sleep 0.1; done
fi

demo_say "Update.exe (the update dialog)"
if [ "$answer" = person ]; then
  echo "    On $DISPLAY the window \"在线更新\" offers $dialog_version: press 立即升级 and watch"
  echo "    the download, the installation and the restart of the client."
else
  echo "    (no display watched: the demo presses 立即升级)"
fi
starts_before=$(demo_client_count start)
dialog_rc=0
demo_dialog_run || dialog_rc=$?
for i in $(seq 1 100); do [ "$(demo_client_count start)" -gt "$starts_before" ] && break; sleep 0.1; done
# The whole screen only when it is the demo's own display.
if [ "$answer" = demo ] && [ "$(demo_client_count start)" -gt "$starts_before" ]; then
  sleep 1
  import -display "$DISPLAY" -window root "$demo_dir/dialog-restarted.png" >/dev/null 2>&1 &&
    echo "    picture: $demo_dir/dialog-restarted.png (the client started again)"
fi

demo_say "What the dialog changed"
for f in QOVA.dll bin/render.dll readme.txt res/world.pak; do
  if [ "$(demo_md5 "$app/$f")" = "$(demo_md5 "$p/$f")" ]; then
    echo "    $f: the release's"
  else
    echo "    $f: NOT the release's"
    ok=0
  fi
done
echo "    Config.dat [Update] Version:"
demo_tool config get "$(demo_winpath "$app/Config.dat")" Update Version || true
grep -q "$dialog_version" "$demo_dir/tool.out" || ok=0
echo "    UpdateRecord.dat (the dialog's section is named with date and time):"
demo_tool config dump "$(demo_winpath "$app/UpdateRecord.dat")" || true
echo "    The client's log:"
tr -d '\r' <"$app/QOVAClient.log" | tail -n 3 | sed 's/^/    QOVAClient.log: /'
[ -d "$app/UPDATE/Program" ] && { echo "    the staging directory is still there"; ok=0; }
[ "$dialog_rc" = 0 ] || { echo "    the dialog did not install (DialogTourGui: $dialog_rc)"; ok=0; }

demo_say "Update.exe once more: nothing left to update"
again_rc=0
demo_dialog_run || again_rc=$?
[ "$again_rc" = 3 ] || { echo "    the dialog did not say it is up to date ($again_rc)"; ok=0; }

demo_wine "$demo_dir/reg.out" reg delete 'HKLM\SOFTWARE\QOVA' /f || true
