# Builds the static libraries the delta code links (zstd, libdivsufsort) from
# Debian's own source packages, for the MinGW-w64 target, into BUILD/third-party.
# apt gets a private deb-src list and state in the build directory (the
# machine's apt configuration is left alone) and checks the archive's
# signatures; the versions are pinned so a build never changes underneath us.
#
#   qova_build_third_party BUILD_DIR

qova_third_party_versions=(
  "libzstd=1.5.4+dfsg2-5"
  "libdivsufsort=2.0.1-5"
)

# URIs of the machine's Debian sources that serve the main suite (deb822 or
# one-line format): the deb-src entry uses the same archive.
qova_debian_uris() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '/^URIs:/{u=$2} /^Suites:/{for(i=2;i<=NF;i++) if($i=="bookworm") print u}' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1=="deb" && $0 !~ /^#/ {for(i=2;i<=NF;i++) if($i !~ /^\[/ && $i ~ /:\/\//) { if ($(i+1)=="bookworm") print $i; break }}' "$f"
  done
}

qova_fetch_debian_source() { # DIR PACKAGE=VERSION
  local dir=$1 pin=$2 pkg=${2%%=*} version=${2#*=}
  local opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dir/apt"
    -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache=$dir/apt/cache" -o Debug::NoLocking=1)
  local apt=(apt-get -q "${opts[@]}")
  if [ ! -f "$dir/apt/lists/.updated" ]; then
    local uri
    uri=$(qova_debian_uris | head -n1)
    [ -n "$uri" ] || { echo "third-party: no Debian bookworm source found in /etc/apt" >&2; return 1; }
    mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial"
    cat >"$dir/apt/src.sources" <<SRC
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    "${apt[@]}" update >"$dir/apt/update.log" 2>&1 || { cat "$dir/apt/update.log" >&2; return 1; }
    touch "$dir/apt/lists/.updated"
  fi
  local served
  served=$(apt-cache "${opts[@]}" showsrc "$pkg" 2>/dev/null | awk '/^Version:/{print $2; exit}')
  if [ "$served" != "$version" ]; then
    echo "third-party: $pkg: the archive serves version '${served:-none}', the build is pinned to $version" >&2
    return 1
  fi
  mkdir -p "$dir/src"
  (cd "$dir/src" && "${apt[@]}" source --download-only "$pin" >"$dir/apt/source-$pkg.log" 2>&1) ||
    { cat "$dir/apt/source-$pkg.log" >&2; return 1; }
  local dsc
  dsc=$(ls "$dir/src/${pkg}_${version#*:}.dsc" 2>/dev/null) ||
    { echo "third-party: $pkg: no .dsc after download" >&2; return 1; }
  rm -rf "$dir/src/$pkg"
  dpkg-source --no-check -x "$dsc" "$dir/src/$pkg" >/dev/null ||
    { echo "third-party: $pkg: dpkg-source -x failed" >&2; return 1; }
}

qova_build_zstd() { # DIR
  local dir=$1 src=$1/src/libzstd/lib obj=$1/obj/zstd
  rm -rf "$obj" && mkdir -p "$obj"
  local f o objs=()
  # Compression and decompression only; single-threaded (files are compressed
  # one per thread by the tool), no legacy formats, no dictionary builder.
  for f in "$src"/common/*.c "$src"/compress/*.c "$src"/decompress/*.c; do
    o=$obj/$(basename "${f%.c}").o
    x86_64-w64-mingw32-gcc-posix -O2 -DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 -DXXH_NAMESPACE=ZSTD_ \
      -I"$src" -I"$src/common" -c "$f" -o "$o" || return 1
    objs+=("$o")
  done
  mkdir -p "$dir/lib" "$dir/include"
  rm -f "$dir/lib/libzstd.a"
  x86_64-w64-mingw32-ar rcs "$dir/lib/libzstd.a" "${objs[@]}" || return 1
  cp "$src/zstd.h" "$src/zstd_errors.h" "$dir/include/"
}

qova_build_divsufsort() { # DIR
  local dir=$1 src=$1/src/libdivsufsort obj=$1/obj/divsufsort
  rm -rf "$obj" && mkdir -p "$obj/include"
  # The headers CMake would configure, for 32-bit indices (files up to 2 GiB).
  sed -e 's/@INCFILE@/#include <inttypes.h>/g' -e 's/@INLINE@/inline/g' \
    -e 's/@SAUCHAR_TYPE@/uint8_t/g' -e 's/@SAINT32_TYPE@/int32_t/g' -e 's/@SAINT64_TYPE@/int64_t/g' \
    -e 's/@SAINDEX_TYPE@/int32_t/g' -e 's/@SAINDEX_PRId@/PRId32/g' -e 's/@SAINT_PRId@/PRId32/g' \
    -e 's/@W64BIT@//g' -e 's/@DIVSUFSORT_IMPORT@//g' -e 's/@DIVSUFSORT_EXPORT@//g' \
    -e 's/@LFS_OFF_T@/long/g' -e 's/@LFS_FOPEN@/fopen/g' -e 's/@LFS_FTELL@/ftell/g' -e 's/@LFS_FSEEK@/fseek/g' -e 's/@LFS_PRId@/"ld"/g' \
    -e 's/@PROJECT_VERSION_FULL@/2.0.1/g' \
    "$src/include/divsufsort.h.cmake" >"$obj/include/divsufsort.h"
  cat >"$obj/include/config.h" <<'CFG'
#define HAVE_INTTYPES_H 1
#define HAVE_STDDEF_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_MEMORY_H 1
#define INLINE inline
#define PROJECT_VERSION_FULL "2.0.1"
CFG
  local f o objs=()
  for f in "$src"/lib/divsufsort.c "$src"/lib/sssort.c "$src"/lib/trsort.c "$src"/lib/utils.c; do
    o=$obj/$(basename "${f%.c}").o
    x86_64-w64-mingw32-gcc-posix -O2 -DHAVE_CONFIG_H=1 -I"$obj/include" -I"$src/include" -c "$f" -o "$o" || return 1
    objs+=("$o")
  done
  mkdir -p "$dir/lib" "$dir/include"
  rm -f "$dir/lib/libdivsufsort.a"
  x86_64-w64-mingw32-ar rcs "$dir/lib/libdivsufsort.a" "${objs[@]}" || return 1
  cp "$obj/include/divsufsort.h" "$dir/include/"
}

qova_build_third_party() { # BUILD_DIR
  local dir=$1/third-party
  [ -f "$dir/lib/libzstd.a" ] && [ -f "$dir/lib/libdivsufsort.a" ] &&
    [ -f "$dir/include/zstd.h" ] && [ -f "$dir/include/divsufsort.h" ] && return 0
  qova_require_packages dpkg-dev debian-archive-keyring
  mkdir -p "$dir"
  local pin
  for pin in "${qova_third_party_versions[@]}"; do
    qova_fetch_debian_source "$dir" "$pin" || return 1
  done
  echo "third-party: building zstd and libdivsufsort for MinGW-w64" >&2
  qova_build_zstd "$dir" || { echo "third-party: zstd build failed" >&2; return 1; }
  qova_build_divsufsort "$dir" || { echo "third-party: libdivsufsort build failed" >&2; return 1; }
}
