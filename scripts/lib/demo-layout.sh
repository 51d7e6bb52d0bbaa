# Helpers of scripts/demo, reusable by other demo parts: Windows paths, quiet
# Wine runs, the sample installation, the published release and its server.
#
# Expects $root and $build to be set and scripts/lib/wine-env.sh to be sourced
# (qova_wine_prefix done) before any function that runs Wine.

demo_dir=${demo_dir:-$build/demo}
demo_installed_version=4.0.1007.0715
demo_offered_version=4.0.1008.0101
# The publisher's private key: outside the release, never served.
demo_key=$demo_dir/keys/publisher.pem

# Unix absolute path -> the Windows path Wine sees (Z:\...).
demo_winpath() {
  local p=$1
  printf 'Z:%s' "${p//\//\\}"
}

# Runs a Windows program quietly, its output into a file, never into a pipe
# (Wine's services would hold the pipe open). Usage: demo_wine OUT EXE ARGS...
demo_wine() {
  local out=$1; shift
  wine "$@" </dev/null >"$out" 2>&1
}

# UpdateTool with its output printed, indented. Usage: demo_tool ARGS...
demo_tool() {
  local out="$demo_dir/tool.out" rc=0
  demo_wine "$out" "$build/bin/UpdateTool.exe" "$@" || rc=$?
  tr -d '\r' <"$out" | sed 's/^/    /'
  return $rc
}

demo_say() { printf '\n== %s\n' "$*"; }

# Starts the update server on a free port serving $1 as <root>/1/... and
# <root>/<kind>/...; exports DEMO_PORT. Stopped by qova_stop_all.
demo_start_server() {
  qova_start_server DEMO_PORT "$root/tests/server/update_server.py" --root "$1"
}

# Writes file $1 with the text $2, creating its directory.
demo_write() {
  mkdir -p "$(dirname "$1")"
  printf '%s\n' "$2" >"$1"
}

# A stand-in for a rebuilt executable: $1 (old|new) of bin/engine.dll, 384 KiB
# of code-like words; the new build shifts addresses and adds a routine, as a
# compiler's next build does. Usage: demo_write_engine old|new FILE
demo_write_engine() {
  mkdir -p "$(dirname "$2")"
  python3 - "$1" "$2" <<'PY'
import random, struct, sys
rng = random.Random(1007)
words = [rng.choice((0x8B48, 0x4C8D, 0xE800, 0x90C3)) << 16 | rng.randrange(4096) for _ in range(96 * 1024)]
if sys.argv[1] == "new":
    words = [w + 16 if (w & 0xFFFF) > 2048 else w for w in words]
    words[40000:40000] = [0xE8000000 | i for i in range(512)]
with open(sys.argv[2], "wb") as out:
    out.write(b"MZ" + b"".join(struct.pack("<I", w) for w in words))
PY
}

# The sample installation in $1: Update.exe, the stand-in main client, a few
# program files in subdirectories, the data set Maps, and Config.dat /
# UserConfig.dat made with UpdateTool, pointing at ${3:-127.0.0.1}:$2.
demo_layout_installation() {
  local app=$1 port=$2 host=${3:-127.0.0.1}
  rm -rf "$app"
  mkdir -p "$app"
  cp "$build/bin/Update.exe" "$app/"
  cp "$build/tests/QOVAClient.exe" "$app/"
  demo_write "$app/QOVA.dll" "QOVA core $demo_installed_version"
  demo_write "$app/bin/render.dll" "renderer $demo_installed_version"
  demo_write "$app/bin/codec.dll" "codec 2.1"
  demo_write_engine old "$app/bin/engine.dll"
  demo_write "$app/res/skin.dat" "default skin"
  demo_write "$app/readme.txt" "QOVA client $demo_installed_version"
  demo_write "$app/Maps/city.dat" "city map, spring edition"
  demo_write "$app/Maps/roads/main.dat" "main roads"

  printf '[Update]\r\nVersion=%s\r\nRegion=CN\r\nServerIP=%s\r\nServerPort=%s\r\n[Server]\r\nWebSiteURL=http://127.0.0.1:%s/\r\n' \
    "$demo_installed_version" "$host" "$port" "$port" >"$demo_dir/Config.import.ini"
  printf '[Server]\r\nUseProxy=0\r\n' >"$demo_dir/UserConfig.import.ini"
  wine "$build/bin/UpdateTool.exe" config import "$(demo_winpath "$app/Config.dat")" \
    <"$demo_dir/Config.import.ini" >"$demo_dir/tool.out" 2>&1
  wine "$build/bin/UpdateTool.exe" config import "$(demo_winpath "$app/UserConfig.dat")" \
    <"$demo_dir/UserConfig.import.ini" >"$demo_dir/tool.out" 2>&1
}

# Makes the publisher's key pair ($demo_key) and sets DEMO_PUBLIC_KEY to the
# public key line UpdateTool prints.
demo_make_key() {
  mkdir -p "$(dirname "$demo_key")"
  chmod 700 "$(dirname "$demo_key")"
  demo_wine "$demo_dir/keygen.out" "$build/bin/UpdateTool.exe" keygen "$(demo_winpath "$demo_key")"
  DEMO_PUBLIC_KEY=$(tr -d '\r\n' <"$demo_dir/keygen.out")
  export DEMO_PUBLIC_KEY
}

# Writes the manifest of the files in directory $2 with UpdateTool manifest
# $1 (program or data; more options after them), signed with $demo_key for
# the path it is served at (the update kind is the directory's name: 1/, 3/),
# and moves it and its .sig into the directory. Usage: demo_sign_manifest KIND DIR NAME OPTIONS...
demo_sign_manifest() {
  local kind=$1 dir=$2 name=$3; shift 3
  demo_wine "$demo_dir/tool.out" "$build/bin/UpdateTool.exe" manifest "$kind" "$(demo_winpath "$dir")" "$@" \
    --key "$(demo_winpath "$demo_key")" --kind "$(basename "$dir")" --expires 90 \
    -o "$(demo_winpath "$demo_dir/$name")"
  mv "$demo_dir/$name" "$demo_dir/$name.sig" "$dir/"
}

# The release in $1 (served root): program files of $demo_offered_version
# under 1/ with UpdateConfig.ini (with patches from the installed release $2
# and compressed copies below 1/UPDATE/delta/, out to every installation:
# --rollout 100), the data set of kind 3 under 3/ with config.ini, each
# manifest signed (demo_make_key first).
demo_publish_release() {
  local release=$1 app=$2
  rm -rf "$release"
  mkdir -p "$release/1" "$release/3"
  local p="$release/1"
  cp -r "$app/bin" "$app/res" "$p/"
  demo_write "$p/QOVA.dll" "QOVA core $demo_offered_version"
  demo_write "$p/bin/render.dll" "renderer $demo_offered_version, faster"
  demo_write "$p/readme.txt" "QOVA client $demo_offered_version: route planning"
  demo_write "$p/bin/plugins/route.dll" "route planner 1.0"
  demo_write_engine new "$p/bin/engine.dll"
  demo_sign_manifest program "$p" UpdateConfig.ini --version "$demo_offered_version" --region CN --notify 1 \
    --rollout 100 --delta-from "$(demo_winpath "$app")"
  tr -d '\r' <"$demo_dir/tool.out" | sed 's/^/    UpdateTool manifest: /'

  local d="$release/3"
  cp -r "$app/Maps/." "$d/"
  demo_write "$d/city.dat" "city map, winter edition"
  demo_write "$d/roads/ring.dat" "ring road"
  demo_sign_manifest data "$d" config.ini
}

# Holds $1 open as a running program holds its image (rename allowed, no
# replacement) until demo_release_holds. Waits until it is held.
demo_hold_file() {
  local ready="$demo_dir/held-$(basename "$1").ready"
  rm -f "$ready" "$ready.stop"
  wine "$build/tests/FileHolder.exe" "$(demo_winpath "$1")" rd "$(demo_winpath "$ready")" \
    </dev/null >"$demo_dir/holder.log" 2>&1 &
  local i
  for i in $(seq 1 150); do
    [ -f "$ready" ] && return 0
    sleep 0.1
  done
  echo "FileHolder did not take $1" >&2
  return 1
}

demo_release_holds() {
  local f
  for f in "$demo_dir"/held-*.ready; do
    [ -f "$f" ] && touch "$f.stop"
  done
  return 0
}

# How many times the stand-in client of installation $1 has started.
demo_client_starts() {
  local log="$1/QOVAClient.log"
  if [ -f "$log" ]; then grep -c '^start' "$log" || true; else echo 0; fi
}

# The paths the demo's update server was asked for since it last served its
# root, one a line.
demo_request_log() {
  python3 - "$DEMO_PORT" <<'PY'
import sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
print(opener.open("http://127.0.0.1:%s/__admin/log" % sys.argv[1], timeout=10).read().decode(), end="")
PY
}

# Clears the request log (the server serves the same root again).
demo_clear_request_log() {
  python3 - "$DEMO_PORT" "$1" <<'PY'
import sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
url = "http://127.0.0.1:%s/__admin/serve" % sys.argv[1]
opener.open(urllib.request.Request(url, data=sys.argv[2].encode()), timeout=10)
PY
}

# md5 of a file, or "(none)".
demo_md5() {
  if [ -f "$1" ]; then md5sum "$1" | cut -c1-32; else echo "(none)"; fi
}

# Starts the stand-in client of installation $1 and waits for its window (it
# logs "start" once the window exists). Under Wine the first window of a
# session starts the desktop process, and a program that draws before that is
# ready gets no display: the start is tried again then. While the client runs,
# the desktop stays up for every later program.
demo_start_client() {
  local app=$1 attempt i n
  n=$(demo_client_starts "$app")
  for attempt in 1 2 3; do
    wine "$app/QOVAClient.exe" </dev/null >>"$demo_dir/client.out" 2>&1 &
    for i in $(seq 1 100); do
      [ "$(demo_client_starts "$app")" -gt "$n" ] && return 0
      sleep 0.1
    done
  done
  echo "the client did not open its window" >&2
  return 1
}
