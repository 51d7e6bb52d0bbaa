#!/usr/bin/env bash
# Download throughput side by side, on one 1 GiB file and on 1,000 files of
# 4 KiB: from the local update server, the transport (transport_bench.exe), a
# bare WinHTTP loop (winhttp_reference.exe) and curl; from Debian's nginx, the
# static server publishers use, bare WinHTTP and the transport over plain HTTP,
# the transport over HTTPS and curl over HTTPS (its certificate from a test
# CA that only the bench's Wine prefix and curl's --cacert trust). Each load runs a few rounds, tools
# interleaved. Prints MiB/s and files/s of the best and the median round (the
# best is the least disturbed by other work on a shared machine), peak private
# memory, the speed of ours and of curl relative to bare WinHTTP, what HTTPS
# costs ours over nginx (https/plain time; the goal is at most 1.3) and the
# speed of ours over HTTPS relative to curl's.
#
# Knobs: QOVA_BENCH_BIG_MIB (1024), QOVA_BENCH_SMALL_COUNT (1000), QOVA_BENCH_ROUNDS (5).
set -euo pipefail
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
build=${build:-${QOVA_BUILD_DIR:-$root/build}}
big_mib=${QOVA_BENCH_BIG_MIB:-1024}
small_count=${QOVA_BENCH_SMALL_COUNT:-1000}
rounds=${QOVA_BENCH_ROUNDS:-5}

source "$root/bench/lib/bench-env.sh"
source "$root/scripts/lib/nginx.sh"
qova_bench_begin "$build/bench-data/transport" curl nginx openssl
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

# nginx on the same tree, plain and TLS (certificate for localhost), its
# state and the certificates in $data.
mkdir -p "$data/tls" "$data/nginx"
qova_tls_trusted_ca "$data/tls"
qova_tls_issue "$data/tls" localhost ca "DNS:localhost,IP:127.0.0.1"
bench_nginx_servers() {
  qova_nginx_static_server "${qova_nginx_ports[0]}"
  qova_nginx_static_tls_server "${qova_nginx_ports[1]}" "$data/tls/localhost"
}
qova_nginx_root=$data/root
qova_nginx_launch "$data/nginx" 2 bench_nginx_servers
nginx_port=${qova_nginx_ports[0]} nginx_tls_port=${qova_nginx_ports[1]}
out=$data/out
winout="Z:${out//\//\\}\\"
results=$data/results.txt
: >"$results"

# run_tool TOOL LOAD: one timed download into $out, checked, then removed.
run_tool() {
  local tool=$1 load=$2 subdir format count line
  if [ "$load" = big ]; then subdir=big format=big.bin count=1; else subdir=small format=f%04d.bin count=$small_count; fi
  case $tool in
    transport | reference | nginx | nginx-reference | nginx-https)
      local exe=$build/bench/transport_bench.exe to=$port
      [ "${tool#nginx-}" = reference ] && exe=$build/bench/winhttp_reference.exe
      [ "$tool" = nginx ] || [ "$tool" = nginx-reference ] && to=$nginx_port
      [ "$tool" = nginx-https ] && to=https:$nginx_tls_port
      wine "$exe" "$to" "$winout" 1 "$subdir" "$format" "$count" </dev/null >"$data/tool.out" 2>"$data/tool.err" || {
        echo "$tool failed on $load:" >&2
        cat "$data/tool.err" >&2
        return 1
      }
      line=$(tail -n 1 "$data/tool.out")
      ;;
    curl | curl-https)
      local config=$data/curl.cfg base=http://127.0.0.1:$port tls=() i name start end
      # Like ours: TLS to "localhost" on 127.0.0.1, checked against the test CA.
      [ "$tool" = curl-https ] && base=https://localhost:$nginx_tls_port \
        tls=(--cacert "$data/tls/ca.pem" --resolve "localhost:$nginx_tls_port:127.0.0.1")
      : >"$config"
      for ((i = 0; i < count; i++)); do
        # shellcheck disable=SC2059
        name=$(printf "$format" "$i")
        printf 'url = "%s/1/%s/%s"\noutput = "%s/%s"\n' "$base" "$subdir" "$name" "$out" "$name" >>"$config"
      done
      start=$(date +%s.%N)
      curl -sSf --noproxy '*' "${tls[@]}" -K "$config" </dev/null
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
    for tool in reference transport curl nginx-reference nginx nginx-https curl-https; do
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
names = {"transport": "transport (ours)", "reference": "bare WinHTTP", "curl": "curl",
         "nginx": "ours, nginx http", "nginx-reference": "WinHTTP, nginx", "nginx-https": "ours, nginx https", "curl-https": "curl, nginx https"}
loads = {"big": "1 large file", "small": "many 4 KiB files"}
best, median = {}, {}
def table(tools):
    print("%-17s %-17s %9s %9s %9s %9s %9s  %s" % ("", "", "MiB/s", "MiB/s", "files/s", "files/s", "peak", ""))
    print("%-17s %-17s %9s %9s %9s %9s %9s  %s" % ("load", "tool", "best", "median", "best", "median", "KiB",
                                                    "seconds per round"))
    for load in ("big", "small"):
        for tool in tools:
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
table(("transport", "reference", "curl"))
print("speed relative to bare WinHTTP, best round (median round):")
for load in ("big", "small"):
    def ratio(tool):
        return "%.2f (%.2f)" % (best[("reference", load)] / best[(tool, load)],
                                median[("reference", load)] / median[(tool, load)])
    print("  %-18s ours %s   curl %s" % (loads[load] + ":", ratio("transport"), ratio("curl")))
print()
print("over nginx, plain HTTP and HTTPS:")
table(("nginx-reference", "nginx", "nginx-https", "curl-https"))
for load in ("big", "small"):
    print("%s:" % loads[load])
    # Time over HTTPS relative to plain HTTP: 1.00 is free.
    print("  HTTPS cost, ours over nginx: https/plain best %.2f (median %.2f), goal <= 1.30" % (
        best[("nginx-https", load)] / best[("nginx", load)],
        median[("nginx-https", load)] / median[("nginx", load)]))
    # Above 1.00 ours is the faster.
    print("  curl https vs ours https: speed of ours relative to curl, best %.2f (median %.2f)" % (
        best[("curl-https", load)] / best[("nginx-https", load)],
        median[("curl-https", load)] / median[("nginx-https", load)]))
EOF
