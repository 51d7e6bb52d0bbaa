#!/usr/bin/env bash
# The signature check of a signed program manifest of 10,000 files against the
# comparison of that manifest with 10,000 installed files of 4 KiB. Run by
# bench/run, which exports $root and $build and builds first.
set -euo pipefail
: "${root:?}" "${build:?}"

source "$root/bench/lib/bench-env.sh"
qova_bench_begin "$build/bench-data/signature"
mkdir -p "$data/install"
qova_bench_small_files "$data/install"

tool() { wine "$build/bin/UpdateTool.exe" "$@" </dev/null >"$data/tool.out" 2>"$data/tool.err" || { cat "$data/tool.err"; exit 1; }; }
tool keygen "$(windir "$data/key.pem")"
public_key=$(tr -d '\r\n' <"$data/tool.out")
tool manifest program "$(windir "$data/install")" --version 2 --region CN -o "$(windir "$data/UpdateConfig.ini")" \
  --key "$(windir "$data/key.pem")" --kind 1
echo "manifest       $(stat -c %s "$data/UpdateConfig.ini") bytes, 10,000 files"
status=0
wine "$build/bench/signature_bench.exe" "$(windir "$data")" "$public_key" </dev/null >"$data/bench.log" 2>&1 || status=$?
cat "$data/bench.log"
exit $status
