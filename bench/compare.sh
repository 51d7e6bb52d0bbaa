#!/usr/bin/env bash
# The program manifest comparison over 10,000 installed files of 4 KiB, beside
# the time Wine needs to open and read the same files. Run by bench/run, which
# exports $root and $build and builds first.
set -euo pipefail
: "${root:?}" "${build:?}"

source "$root/bench/lib/bench-env.sh"
qova_bench_begin "$build/bench-data/compare"
mkdir -p "$data/install"
qova_bench_small_files "$data/install"

install_dir=$(windir "$data/install")
manifest=$(windir "$data/UpdateConfig.ini")
wine "$build/bin/UpdateTool.exe" manifest program "$install_dir" --version 2 --region CN -o "$manifest" \
  </dev/null >"$data/tool.log" 2>&1 || { cat "$data/tool.log"; exit 1; }
status=0
wine "$build/bench/compare_bench.exe" "$(windir "$data")" </dev/null >"$data/bench.log" 2>&1 || status=$?
cat "$data/bench.log"
exit $status
