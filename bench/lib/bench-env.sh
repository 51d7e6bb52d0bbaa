# What every benchmark starts with (source it after setting $root and $build):
# the Wine helpers, a fresh data directory, a private display and the prefix,
# all taken down again when the benchmark exits.

# shellcheck source=../../scripts/lib/packages.sh
source "$root/scripts/lib/packages.sh"
# shellcheck source=../../scripts/lib/wine-env.sh
source "$root/scripts/lib/wine-env.sh"
# shellcheck source=data.sh
source "$root/bench/lib/data.sh"

# qova_bench_begin DIR [COMMAND...]: $data := DIR, empty; the commands are
# required besides Wine's. DIR and everything started go on exit.
qova_bench_begin() {
  data=${1:?}; shift
  qova_require_wine_env
  [ $# -eq 0 ] || qova_require_commands "$@"
  trap 'qova_stop_all; rm -rf "$data"' EXIT
  rm -rf "$data"
  mkdir -p "$data"
  qova_display_start private
  qova_wine_prefix
}

# Wine maps / to Z:\ (no winepath: its output cannot be captured safely).
windir() { local p=${1//\//\\}; echo "Z:$p"; }
now() { date +%s.%N; }
# field NAME FILE: the value of "NAME=value" in a bench program's output.
field() { tr -d '\r' <"$2" | sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
