#!/usr/bin/env bash
# The program manifest comparison over 10,000 installed files of 4 KiB, beside
# the time Wine needs to open and read the same files. Run by bench/run, which
# exports $root and $build and builds first.
set -euo pipefail
: "${root:?}" "${build:?}"

source "$root/scripts/lib/packages.sh"
source "$root/scripts/lib/wine-env.sh"
qova_require_wine_env
data=$build/bench-data/compare
cleanup() {
  qova_stop_all
  rm -rf "$data"
}
trap cleanup EXIT
qova_display_start private
qova_wine_prefix

rm -rf "$data"
mkdir -p "$data/install"
python3 - "$data/install" <<'EOF'
import os, sys
root = sys.argv[1]
for d in range(100):
    sub = os.path.join(root, "d%02d" % d)
    os.makedirs(sub)
    for f in range(100):
        with open(os.path.join(sub, "f%05d.bin" % (d * 100 + f)), "wb") as out:
            out.write(os.urandom(4096))
EOF

# Wine maps / to Z:\ (no winepath: its output cannot be captured safely).
windir() { local p=${1//\//\\}; echo "Z:$p"; }
install_dir=$(windir "$data/install")
manifest=$(windir "$data/UpdateConfig.ini")
wine "$build/bin/UpdateTool.exe" manifest program "$install_dir" --version 2 --region CN -o "$manifest" \
  </dev/null >"$data/tool.log" 2>&1 || { cat "$data/tool.log"; exit 1; }
status=0
wine "$build/bench/compare_bench.exe" "$(windir "$data")" </dev/null >"$data/bench.log" 2>&1 || status=$?
cat "$data/bench.log"
exit $status
