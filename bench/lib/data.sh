# Bench data shared by the benchmarks (source it; bench/run does not run it).

# qova_bench_small_files DIR: 10,000 files of 4 KiB of random bytes, 100 per
# sub-directory (d00/f00000.bin ... d99/f09999.bin), like an installed product.
qova_bench_small_files() {
  python3 - "$1" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(100):
    sub = os.path.join(root, "d%02d" % d)
    os.makedirs(sub, exist_ok=True)
    for f in range(100):
        with open(os.path.join(sub, "f%05d.bin" % (d * 100 + f)), "wb") as out:
            out.write(os.urandom(4096))
PY
}
