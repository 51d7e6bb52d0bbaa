#!/usr/bin/env bash
# Download throughput side by side, from one local update server: the transport
# (transport_bench.exe), a bare WinHTTP loop (winhttp_reference.exe) and curl,
# on one 1 GiB file and on 1,000 files of 4 KiB. Each load runs a few rounds,
# tools interleaved. Prints MiB/s and files/s of the best and the median round
# (the best is the least disturbed by other work on a shared machine), peak
# private memory, and the speed of ours and of curl relative to bare WinHTTP.
#
# Knobs: QOVA_BENCH_BIG_MIB (1024), QOVA_BENCH_SMALL_COUNT (1000), QOVA_BENCH_ROUNDS (5).
set -euo pipefail
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
build=${build:-${QOVA_BUILD_DIR:-$root/build}}
big_mib=${QOVA_BENCH_BIG_MIB:-1024}
small_count=${QOVA_BENCH_SMALL_COUNT:-1000}
rounds=${QOVA_BENCH_ROUNDS:-5}

source "$root/bench/lib/bench-env.sh"
qova_bench_begin "$build/bench-data/transport" curl
mkdir -p "$data/root/1/big" "$data/root/1/small" "$data/out"

echo "preparing ${big_mib} MiB and ${small_count} x 4 KiB of data" >&2
head -c $((big_mib * 1024 * 1024)) /dev/urandom >"$data/root/1/big/big.bin"
python3 - "$data/root/1/small" "$small_count" <<'EOF'
import os, sys
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], "f%04d.bin" % i), "wb") as f:
        f.write(os.urandom(4096))
EOF

qova_start_server QOVA_BENCH_PORT "$root/tests/server/update_server.py" --root "$data/root"
port=$QOVA_BENCH_PORT
out=$data/out
winout="Z:${out//\//\\}\\"
results=$data/results.txt
: >"$results"

# run_tool TOOL LOAD: one timed download into $out, checked, then removed.
run_tool() {
  local tool=$1 load=$2 subdir format count line
  if [ "$load" = big ]; then subdir=big format=big.bin count=1; else subdir=small format=f%04d.bin count=$small_count; fi
  case $tool in
    transport | reference)
      local exe=$build/bench/transport_bench.exe
      [ "$tool" = reference ] && exe=$build/bench/winhttp_reference.exe
      wine "$exe" "$port" "$winout" 1 "$subdir" "$format" "$count" </dev/null >"$data/tool.out" 2>"$data/tool.err" || {
        echo "$tool failed on $load:" >&2
        cat "$data/tool.err" >&2
        return 1
      }
      line=$(tail -n 1 "$data/tool.out")
      ;;
    curl)
      local config=$data/curl.cfg i name start end
      : >"$config"
      for ((i = 0; i < count; i++)); do
        # shellcheck disable=SC2059
        name=$(printf "$format" "$i")
        printf 'url = "http://127.0.0.1:%s/1/%s/%s"\noutput = "%s/%s"\n' "$port" "$subdir" "$name" "$out" "$name" >>"$config"
      done
      start=$(date +%s.%N)
      curl -sSf --noproxy '*' -K "$config" </dev/null
      end=$(date +%s.%N)
      line="$(awk "BEGIN { print $end - $start }") $(cat "$out"/* | wc -c) $count 0"
      ;;
  esac
  # Every byte must have arrived intact.
  if [ "$load" = big ]; then
    cmp -s "$out/big.bin" "$data/root/1/big/big.bin" || { echo "$tool: big.bin differs" >&2; return 1; }
  else
    diff -rq "$out" "$data/root/1/small" >/dev/null || { echo "$tool: small files differ" >&2; return 1; }
  fi
  echo "$tool $load $line" >>"$results"
  rm -rf "$out"
  mkdir -p "$out"
}

for load in big small; do
  for ((r = 1; r <= rounds; r++)); do
    for tool in reference transport curl; do
      run_tool "$tool" "$load"
    done
  done
done

python3 - "$results" <<'EOF'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    tool, load, secs, nbytes, files, peak = line.split()
    runs.setdefault((tool, load), []).append((float(secs), int(nbytes), int(files), int(peak)))
names = {"transport": "transport (ours)", "reference": "bare WinHTTP", "curl": "curl"}
loads = {"big": "1 large file", "small": "many 4 KiB files"}
best, median = {}, {}
print("%-17s %-17s %9s %9s %9s %9s %9s  %s" % ("", "", "MiB/s", "MiB/s", "files/s", "files/s", "peak", ""))
print("%-17s %-17s %9s %9s %9s %9s %9s  %s" % ("load", "tool", "best", "median", "best", "median", "KiB",
                                                "seconds per round"))
for load in ("big", "small"):
    for tool in ("transport", "reference", "curl"):
        rs = runs[(tool, load)]
        b = min(r[0] for r in rs)
        m = statistics.median(r[0] for r in rs)
        nbytes, files = rs[0][1], rs[0][2]
        peak = max(r[3] for r in rs)
        best[(tool, load)], median[(tool, load)] = b, m
        print("%-17s %-17s %9.1f %9.1f %9.1f %9.1f %9s  %s" % (
            loads[load], names[tool], nbytes / 1048576 / b, nbytes / 1048576 / m, files / b, files / m,
            peak if peak else "-", " ".join("%.2f" % r[0] for r in rs)))
print()
print("speed relative to bare WinHTTP, best round (median round):")
for load in ("big", "small"):
    def ratio(tool):
        return "%.2f (%.2f)" % (best[("reference", load)] / best[(tool, load)],
                                median[("reference", load)] / median[(tool, load)])
    print("  %-18s ours %s   curl %s" % (loads[load] + ":", ratio("transport"), ratio("curl")))
EOF
