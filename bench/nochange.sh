#!/usr/bin/env bash
# A data-set run that finds nothing new (P10, P11): Update.exe -silent over a
# data set of 600 files / 300 MiB beside one of 6 files, its files' part beside
# a loop that only opens and stats every file, and the bytes such a run takes
# from the server (nginx and the test server, through a counting relay) beside
# the manifest's size. Run by bench/run, which exports $root and $build and
# builds first.
#
# Knobs: QOVA_BENCH_NOCHANGE_FILES (600), QOVA_BENCH_NOCHANGE_KIB (512 per file).
set -euo pipefail
: "${root:?}" "${build:?}"
files=${QOVA_BENCH_NOCHANGE_FILES:-600}
kib=${QOVA_BENCH_NOCHANGE_KIB:-512}

source "$root/bench/lib/bench-env.sh"
source "$root/scripts/lib/nginx.sh"
qova_bench_begin "$build/bench-data/nochange" nginx

echo "preparing $files files of $kib KiB and 6 files" >&2
python3 - "$data" "$files" "$kib" <<'PY'
import os, sys
data, count, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for app, n in (("big", count), ("small", 6)):
    for i in range(n):
        sub = os.path.join(data, app, "Maps", "d%02d" % (i // 100))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "m%04d.dat" % i), "wb") as out:
            out.write(os.urandom(kib * 1024))
PY
# kind 3: the big data set, kind 4: the small one
for pair in big:3 small:4; do
  app=${pair%:*} kind=${pair#*:}
  mkdir -p "$data/release/$kind"
  cp "$build/bin/Update.exe" "$data/$app/"
  wine "$build/bin/UpdateTool.exe" manifest data "$(windir "$data/$app/Maps")" \
    -o "$(windir "$data/release/$kind/config.ini")" </dev/null >"$data/tool.log" 2>&1 || { cat "$data/tool.log"; exit 1; }
done
manifest_bytes=$(stat -c %s "$data/release/3/config.ini")

# point APP PORT: the installation's Config.dat names 127.0.0.1:PORT.
point() {
  printf '[Update]\r\nVersion=1\r\nRegion=CN\r\nServerIP=127.0.0.1\r\nServerPort=%s\r\n' "$2" >"$data/import.ini"
  wine "$build/bin/UpdateTool.exe" config import "$(windir "$data/$1/Config.dat")" \
    <"$data/import.ini" >"$data/tool.log" 2>&1
  printf '[Server]\r\nUseProxy=0\r\n' >"$data/import.ini"
  wine "$build/bin/UpdateTool.exe" config import "$(windir "$data/$1/UserConfig.dat")" \
    <"$data/import.ini" >"$data/tool.log" 2>&1
}
# run APP KIND: one silent data-set run; prints its wall time.
run() {
  local t0 t1
  t0=$(now)
  wine "$data/$1/Update.exe" -silent -t:"$2" -d:Maps </dev/null >"$data/update.log" 2>&1 || true
  t1=$(now)
  python3 -c "import sys; print('%.3f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$t0" "$t1"
}
min_of() { python3 -c "import sys; print('%.3f' % min(float(x) for x in sys.argv[1:]))" "$@"; }
ratio() { python3 -c "import sys; a, b = float(sys.argv[1]), float(sys.argv[2]); print('%.2f' % (a / b if b else 0))" "$1" "$2"; }
unchanged() {   # the run installed nothing: every data file is as generated
  [ -z "$(find "$data/$1/Maps" -name '*.bak')" ] && [ ! -d "$data/$1/UPDATE/Maps" ]
}

qova_start_server TEST_PORT "$root/tests/server/update_server.py" --root "$data/release"
qova_nginx_start NGINX_PORT "$data/release" "$data/nginx"

# bytes SERVER_PORT APP KIND: what one more no-change run takes from the server.
bytes() {
  local count=$data/count.$1
  qova_start_server RELAY_PORT "$root/bench/lib/count_relay.py" --target "$1" --count-file "$count"
  point "$2" "$RELAY_PORT"
  run "$2" "$3" >/dev/null
  local before
  before=$(cat "$count")
  run "$2" "$3" >/dev/null
  sleep 0.3   # the relay counts a connection when it closes
  echo $(($(cat "$count") - before))
}

# Warm-up: the first run of each installation reads every file and keeps the digests.
point big "$TEST_PORT"
point small "$TEST_PORT"
first_big=$(run big 3)
run small 4 >/dev/null
big_runs=() small_runs=() cmp_runs=() stat_runs=()
for i in 1 2 3; do
  big_runs+=("$(run big 3)")
  small_runs+=("$(run small 4)")
  wine "$build/bench/nochange_bench.exe" stat "$(windir "$data/release/3/config.ini")" "$(windir "$data/big/Maps")" \
    </dev/null >"$data/stat.out" 2>&1 || { cat "$data/stat.out"; exit 1; }
  stat_runs+=("$(field seconds "$data/stat.out")")
done
unchanged big || { echo "the no-change run changed the installation" >&2; exit 1; }
# The files' part alone: the comparison against the installed manifest copy.
cp "$data/release/3/config.ini" "$data/manifest.ini"
for i in 1 2 3; do
  wine "$build/bench/nochange_bench.exe" compare "$(windir "$data/manifest.ini")" "$(windir "$data/big/Maps")" \
    "$(windir "$data/big/UpdateState/Digests.cache")" </dev/null >"$data/cmp.out" 2>&1 || { cat "$data/cmp.out"; exit 1; }
  [ "$(field listed "$data/cmp.out")" = 0 ] || { echo "the comparison listed files"; cat "$data/cmp.out"; exit 1; }
  cmp_runs+=("$(field seconds "$data/cmp.out")")
done
big=$(min_of "${big_runs[@]}") small=$(min_of "${small_runs[@]}")
cmp=$(min_of "${cmp_runs[@]}") stat=$(min_of "${stat_runs[@]}")
echo "no-change run:     $files files ($((files * kib / 1024)) MiB) ${big}s (first run ${first_big}s)  6 files ${small}s" \
     " ratio $(ratio "$big" "$small")  (P10 target <= 3)"
echo "files' part:       comparison ${cmp}s  open+stat only ${stat}s  ratio $(ratio "$cmp" "$stat")  (P10 target <= 2)"

test_bytes=$(bytes "$TEST_PORT" big 3)
nginx_bytes=$(bytes "$NGINX_PORT" big 3)
echo "from the server:   test server ${test_bytes} B  nginx ${nginx_bytes} B  manifest ${manifest_bytes} B" \
     " (P11 target <= 2048 B each)"
