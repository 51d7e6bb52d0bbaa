#!/usr/bin/env bash
# Patches and compressed copies on real pairs of consecutive releases of
# Windows (PE32+) programs not written here, from Debian's archive:
#  - GRUB's monolithic EFI image grubx64.efi from grub-efi-amd64-bin,
#    2.06-13+deb12u1 (bookworm-security) -> 2.06-13+deb12u2 (bookworm);
#  - systemd's EFI boot manager systemd-bootx64.efi from systemd-boot-efi,
#    252.38-1~deb12u1 (bookworm-security) -> 252.39-1~deb12u2 (bookworm).
# Side by side with Debian's bsdiff, xdelta3 -9 and zstd's patch mode; apply
# speed and peak memory of our apply under Wine; the time and memory to make.
# Run by bench/run, which exports $root and $build and builds first.
set -euo pipefail
: "${root:?}" "${build:?}"
source "$root/bench/lib/bench-env.sh"
qova_bench_begin "$build/bench-data/patch" zstd bsdiff xdelta3
tool=$build/bin/UpdateTool.exe
bench=$build/bench/patch_bench.exe
size() { stat -c %s "$1"; }
pct() { python3 -c "import sys; print('%.2f %%' % (100.0 * int(sys.argv[1]) / int(sys.argv[2])))" "$1" "$2"; }
ratio() { python3 -c "import sys; print('%.3f' % (int(sys.argv[1]) / int(sys.argv[2])))" "$1" "$2"; }
w() { windir "$1"; }
run_bench() { # OUTPUT ARGS...: patch_bench in Wine, its figures into OUTPUT
  local out=$1; shift
  wine "$bench" "$@" </dev/null >"$out" 2>&1 || { cat "$out"; exit 1; }
}
# The machine is shared: times are the best of three runs (memory is the same each time).
run_best() { # OUTPUT ARGS...
  local out=$1 i; shift
  run_bench "$out" "$@"
  for i in 2 3; do
    run_bench "$out.$i" "$@"
    python3 -c "import sys; sys.exit(0 if float(sys.argv[1] or 1e9) < float(sys.argv[2] or 1e9) else 1)" \
      "$(field seconds "$out.$i")" "$(field seconds "$out")" && mv "$out.$i" "$out"
  done
  return 0
}

# fetch_pair PACKAGE OLD_VERSION NEW_VERSION MEMBER DIR: DIR/old and DIR/new.
fetch_pair() {
  local pkg=$1 member=$4 dir=$5 v
  for v in "$2" "$3"; do
    mkdir -p "$dir/$v"
    (cd "$dir/$v" && apt-get download -q "$pkg=$v" >/dev/null 2>&1) || { echo "cannot download $pkg=$v"; exit 1; }
    dpkg-deb -x "$dir/$v"/*.deb "$dir/$v/root"
  done
  cp "$dir/$2/root/$member" "$dir/old"
  cp "$dir/$3/root/$member" "$dir/new"
}

bench_pair() { # PACKAGE OLD_VERSION NEW_VERSION MEMBER
  local dir=$data/$1 old new n t0 t1
  fetch_pair "$@" "$dir"
  old=$dir/old new=$dir/new n=$(size "$dir/new")
  echo "pair: $1 $2 -> $3, $4 ($(size "$old") -> $n bytes)"
  t0=$(now)
  wine "$tool" patch make "$(w "$old")" "$(w "$new")" "$(w "$dir/ours.patch")" </dev/null >"$dir/make.txt" 2>&1 ||
    { cat "$dir/make.txt"; exit 1; }
  t1=$(now)
  bsdiff "$old" "$new" "$dir/bsdiff.patch"
  xdelta3 -9 -f -e -s "$old" "$new" "$dir/xdelta.patch"
  zstd -q -19 --long=27 --patch-from="$old" "$new" -o "$dir/zstd-patch.zst"
  zstd -q -19 "$new" -o "$dir/zstd19.zst"
  wine "$tool" compress "$(w "$new")" "$(w "$dir/ours.zst")" </dev/null >"$dir/compress.txt" 2>&1 ||
    { cat "$dir/compress.txt"; exit 1; }
  local ours bs xd zp best
  ours=$(size "$dir/ours.patch") bs=$(size "$dir/bsdiff.patch") xd=$(size "$dir/xdelta.patch")
  zp=$(size "$dir/zstd-patch.zst")
  best=$(printf '%s\n' "$bs" "$xd" "$zp" | sort -n | head -n1)
  echo "patch:  ours $ours ($(pct "$ours" "$n"))  bsdiff $bs ($(pct "$bs" "$n"))  xdelta3 -9 $xd ($(pct "$xd" "$n"))" \
       " zstd -19 --long --patch-from $zp ($(pct "$zp" "$n"))  ours/smallest $(ratio "$ours" "$best") (goal <= 1)"
  local oz zz
  oz=$(size "$dir/ours.zst") zz=$(size "$dir/zstd19.zst")
  echo "copy:   ours $oz ($(pct "$oz" "$n"))  zstd -19 $zz ($(pct "$zz" "$n"))  ours/zstd $(ratio "$oz" "$zz") (goal <= 1.05)"
  echo "whole:  $n; a silent update takes $ours with the patch, $oz with the copy only"
  run_best "$dir/make-in.txt" make "$(w "$old")" "$(w "$new")" "$(w "$dir/again.patch")"
  cmp "$dir/ours.patch" "$dir/again.patch"
  echo "make:   UpdateTool patch make $(python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$t0" "$t1")s" \
       "(Wine, including start); in process $(field seconds "$dir/make-in.txt")s, peak private $(field peak_private_mib "$dir/make-in.txt") MiB"
  run_best "$dir/apply.txt" apply "$(w "$old")" "$(w "$dir/ours.patch")" "$(w "$dir/out")"
  cmp "$new" "$dir/out"
  echo "apply:  $(field mbps "$dir/apply.txt") MB/s of output, $(field seconds "$dir/apply.txt")s," \
       "peak private $(field peak_private_mib "$dir/apply.txt") MiB (goal >= 200 MB/s)"
}

bench_pair grub-efi-amd64-bin 2.06-13+deb12u1 2.06-13+deb12u2 usr/lib/grub/x86_64-efi/monolithic/grubx64.efi
bench_pair systemd-boot-efi 252.38-1~deb12u1 252.39-1~deb12u2 usr/lib/systemd/boot/efi/systemd-bootx64.efi

# A larger output: GRUB's new file 32 times over against the old one 32 times
# over (134 MB, more than the 100 MB release of the make goal, in one file).
g=$data/grub-efi-amd64-bin
for i in $(seq 32); do cat "$g/old"; done >"$data/old32"
for i in $(seq 32); do cat "$g/new"; done >"$data/new32"
run_bench "$data/make32.txt" make "$(w "$data/old32")" "$(w "$data/new32")" "$(w "$data/p32")"
run_best "$data/apply32.txt" apply "$(w "$data/old32")" "$(w "$data/p32")" "$(w "$data/out32")"
cmp "$data/new32" "$data/out32"
echo "make:   $(size "$data/new32") bytes: $(field seconds "$data/make32.txt")s," \
     "peak private $(field peak_private_mib "$data/make32.txt") MiB ($(size "$data/old32") bytes old)"
run_best "$data/dec.txt" decompress "$(w "$g/ours.zst")" "$(w "$data/back")" "$(size "$g/new")"
cmp "$g/new" "$data/back"
echo "apply:  $(size "$data/new32") bytes: $(field mbps "$data/apply32.txt") MB/s," \
     "peak private $(field peak_private_mib "$data/apply32.txt") MiB;" \
     " copy decompress $(field mbps "$data/dec.txt") MB/s, peak private $(field peak_private_mib "$data/dec.txt") MiB"
