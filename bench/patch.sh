#!/usr/bin/env bash
# Patches and compressed copies on a real pair of consecutive releases of a
# Windows (PE32+) program not written here: GRUB's monolithic EFI image
# grubx64.efi from Debian's grub-efi-amd64-bin, 2.06-13+deb12u1
# (bookworm-security) and 2.06-13+deb12u2 (bookworm). Side by side with
# Debian's bsdiff, xdelta3 -9 and zstd's patch mode; apply speed and peak
# memory of our apply under Wine; UpdateTool's time to make the patch.
# Run by bench/run, which exports $root and $build and builds first.
set -euo pipefail
: "${root:?}" "${build:?}"
source "$root/bench/lib/bench-env.sh"
qova_bench_begin "$build/bench-data/patch" zstd bsdiff xdelta3
tool=$build/bin/UpdateTool.exe
bench=$build/bench/patch_bench.exe

pkg=grub-efi-amd64-bin old_version=2.06-13+deb12u1 new_version=2.06-13+deb12u2
member=usr/lib/grub/x86_64-efi/monolithic/grubx64.efi
for v in "$old_version" "$new_version"; do
  mkdir -p "$data/$v"
  (cd "$data/$v" && apt-get download -q "$pkg=$v" >/dev/null 2>&1) || { echo "cannot download $pkg=$v"; exit 1; }
  dpkg-deb -x "$data/$v"/*.deb "$data/$v/root"
done
old=$data/$old_version/root/$member new=$data/$new_version/root/$member
cp "$old" "$data/old.efi"; cp "$new" "$data/new.efi"
old=$data/old.efi new=$data/new.efi
size() { stat -c %s "$1"; }
pct() { python3 -c "import sys; print('%.2f %%' % (100.0 * int(sys.argv[1]) / int(sys.argv[2])))" "$1" "$2"; }
w() { windir "$1"; }
n=$(size "$new")
echo "pair: $pkg $old_version -> $new_version, $member ($(size "$old") -> $n bytes)"

t0=$(now)
wine "$tool" patch make "$(w "$old")" "$(w "$new")" "$(w "$data/ours.patch")" </dev/null >"$data/make.txt" 2>&1 || { cat "$data/make.txt"; exit 1; }
t1=$(now)
make_s=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$t0" "$t1")
bsdiff "$old" "$new" "$data/bsdiff.patch"
xdelta3 -9 -f -e -s "$old" "$new" "$data/xdelta.patch"
zstd -q -19 --long=27 --patch-from="$old" "$new" -o "$data/zstd-patch.zst"
zstd -q -19 "$new" -o "$data/zstd19.zst"
wine "$tool" compress "$(w "$new")" "$(w "$data/ours.zst")" </dev/null >"$data/compress.txt" 2>&1 || { cat "$data/compress.txt"; exit 1; }

ours=$(size "$data/ours.patch") bs=$(size "$data/bsdiff.patch")
echo "patch:  ours $ours ($(pct "$ours" "$n"))  bsdiff $bs ($(pct "$bs" "$n"))" \
     " xdelta3 -9 $(size "$data/xdelta.patch") ($(pct "$(size "$data/xdelta.patch")" "$n"))" \
     " zstd -19 --long --patch-from $(size "$data/zstd-patch.zst") ($(pct "$(size "$data/zstd-patch.zst")" "$n"))" \
     " ours/bsdiff $(python3 -c "print('%.3f' % ($ours / $bs))") (goal <= 1)"
oz=$(size "$data/ours.zst") zz=$(size "$data/zstd19.zst")
echo "copy:   ours $oz ($(pct "$oz" "$n"))  zstd -19 $zz ($(pct "$zz" "$n"))" \
     " ours/zstd $(python3 -c "print('%.3f' % ($oz / $zz))") (goal <= 1.05)"
echo "make:   UpdateTool patch make ${make_s}s (Wine, including start)"

wine "$bench" apply "$(w "$old")" "$(w "$data/ours.patch")" "$(w "$data/out.efi")" </dev/null >"$data/apply.txt" 2>&1 || { cat "$data/apply.txt"; exit 1; }
cmp "$new" "$data/out.efi"
echo "apply:  $(field mbps "$data/apply.txt") MB/s of output, $(field seconds "$data/apply.txt")s," \
     "peak private $(field peak_private_mib "$data/apply.txt") MiB (goal >= 200 MB/s)"

# Speed on a larger output: the pair's new file 32 times over against the old one 32 times over.
for i in $(seq 32); do cat "$old"; done >"$data/old32"
for i in $(seq 32); do cat "$new"; done >"$data/new32"
wine "$tool" patch make "$(w "$data/old32")" "$(w "$data/new32")" "$(w "$data/p32")" </dev/null >"$data/make32.txt" 2>&1 || { cat "$data/make32.txt"; exit 1; }
wine "$bench" apply "$(w "$data/old32")" "$(w "$data/p32")" "$(w "$data/out32")" </dev/null >"$data/apply32.txt" 2>&1 || { cat "$data/apply32.txt"; exit 1; }
cmp "$data/new32" "$data/out32"
wine "$bench" decompress "$(w "$data/ours.zst")" "$(w "$data/back.efi")" "$n" </dev/null >"$data/dec.txt" 2>&1 || { cat "$data/dec.txt"; exit 1; }
echo "apply:  $(size "$data/new32") bytes: $(field mbps "$data/apply32.txt") MB/s," \
     "peak private $(field peak_private_mib "$data/apply32.txt") MiB;" \
     " copy decompress $(field mbps "$data/dec.txt") MB/s, peak private $(field peak_private_mib "$data/dec.txt") MiB"
