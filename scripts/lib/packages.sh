# What the scripts need from Debian 12, checked by what they run: a command
# is looked up on PATH and, when missing, the package that provides it is
# installed. (A package can be installed and still not give the command:
# wine64 alone has no `wine`.)

# command -> Debian package that puts it on PATH
declare -gA qova_command_package=(
  [cmake]=cmake
  [ninja]=ninja-build
  [x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64-posix
  [x86_64-w64-mingw32-gcc-posix]=gcc-mingw-w64-x86-64-posix
  [x86_64-w64-mingw32-windres]=binutils-mingw-w64-x86-64
  [wine]=wine
  [wineserver]=wine
  [Xvfb]=xvfb
  [xdpyinfo]=x11-utils
  [python3]=python3
  [localedef]=libc-bin
  [curl]=curl
  [convert]=imagemagick
  [import]=imagemagick
  [compare]=imagemagick
  [identify]=imagemagick
  [iconv]=libc-bin
  [nginx]=nginx-light
  [clang++]=clang
  [zstd]=zstd
  [bsdiff]=bsdiff
  [xdelta3]=xdelta3
)

# Runs apt-get install for the named packages (one run), as root or via sudo.
qova_apt_install() {
  [ $# -eq 0 ] && return 0
  echo "installing: $*" >&2
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "need root or sudo to install: $*" >&2; return 1; }
    sudo=sudo
  fi
  # Another script may be installing at the same moment: wait for its lock.
  local lock=(-o DPkg::Lock::Timeout=300)
  $sudo apt-get "${lock[@]}" update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock[@]}" install -y -qq --no-install-recommends "$@" >/dev/null
}

# A command counts as present only when it is the real one: this machine's
# image may carry a `convert` that is not ImageMagick's.
qova_has_command() {
  command -v "$1" >/dev/null 2>&1 || return 1
  case $1 in
    convert | import) "$1" -version 2>/dev/null | grep -q ImageMagick ;;
    *) return 0 ;;
  esac
}

# Installs the packages that provide whichever of the named commands are
# missing, then fails loudly if any is still not there.
qova_require_commands() {
  local c pkgs=() missing=()
  for c in "$@"; do
    qova_has_command "$c" && continue
    [ -n "${qova_command_package[$c]:-}" ] || { echo "no package known for command $c" >&2; return 1; }
    pkgs+=("${qova_command_package[$c]}")
  done
  [ ${#pkgs[@]} -eq 0 ] && return 0
  # shellcheck disable=SC2046
  qova_apt_install $(printf '%s\n' "${pkgs[@]}" | sort -u)
  hash -r
  for c in "$@"; do qova_has_command "$c" || missing+=("$c"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "still missing after install: ${missing[*]}" >&2
  return 1
}

# For what is not a command (fonts, source trees, locale data): installs the
# named Debian packages when any is missing (one apt-get run).
qova_require_packages() {
  local p missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  qova_apt_install "${missing[@]}"
}
