#!/usr/bin/env bash
# CSha256 (through BCrypt under Wine) beside sha256sum on one 1 GiB file, best
# of three each, taking turns. Run by bench/run, which exports $root and
# $build and builds first.
set -euo pipefail
: "${root:?}" "${build:?}"

source "$root/bench/lib/bench-env.sh"
qova_bench_begin "$build/bench-data/sha256"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$data/large.bin"
cat "$data/large.bin" >/dev/null   # in the page cache before any timing

py() { python3 -c "import sys; a = [float(x) for x in sys.argv[2:]]; print($1)" "$@"; }

host_runs=() bench_runs=()
for i in 1 2 3; do
  t0=$(now); sha256sum "$data/large.bin" >"$data/sha256sum.txt"; t1=$(now)
  host_runs+=("$(py '"%.3f" % (a[1] - a[0])' "$t0" "$t1")")
  wine "$build/bench/sha256_bench.exe" "$(windir "$data/large.bin")" </dev/null >"$data/bench.$i" 2>&1 ||
    { cat "$data/bench.$i" >&2; exit 1; }
  bench_runs+=("$(field seconds "$data/bench.$i")")
done
[ "$(field digest "$data/bench.1")" = "$(cut -d' ' -f1 "$data/sha256sum.txt")" ] || { echo "digest mismatch"; exit 1; }
host=$(py '"%.3f" % min(a)' "${host_runs[@]}")
bench=$(py '"%.3f" % min(a)' "${bench_runs[@]}")
echo "1 GiB file:  sha256sum ${host}s  CSha256 ${bench}s (in process)" \
     " throughput ratio CSha256/sha256sum $(py '"%.2f" % (a[0] / a[1])' "$host" "$bench")  (target >= 0.90)"
echo "             peak private memory $(field peak_private_mib "$data/bench.1") MiB"
