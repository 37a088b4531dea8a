#!/usr/bin/env bash
# Builds the benchmarks for 32-bit Windows and runs one under wine:
#   build-windows-bench.sh [BENCHMARK] [EXTRA BENCHMARK ARGS...]
# BENCHMARK is zl_bench (the default), zl_resize_bench, zl_resize_phase_bench
# or zl_fourcorner_bench.
#
# Google Benchmark and pixman for i686-w64-mingw32 are built from Debian's
# source packages into build/windows-deps (static libraries), once: a step
# whose result is already installed there is skipped. Then the
# `windows-release` preset is configured and built, and the benchmark runs
# from build/windows-release/bin next to its ZantrelLayer.dll.
#
# Run by hand only; the tests never call it (timings are not checked).
# Needs root or sudo the first time, to add a deb-src entry and meson.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
PREFIX="$ROOT/build/windows-deps"
WORK="$ROOT/build/windows-deps-src"
TOOLCHAIN="$ROOT/cmake/mingw-i686.cmake"
JOBS=$(nproc 2>/dev/null || echo 2)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

apt_updated=0
apt_update() {
  if [ "$apt_updated" -eq 0 ]; then
    # A mirror caught mid-sync may fail one index; the sources and tools
    # needed here are then most likely in the indexes that did download.
    as_root apt-get update -qq ||
      echo "build-windows-bench.sh: apt-get update failed; going on with the indexes it got" >&2
    apt_updated=1
  fi
}

ensure_tools() {
  local missing=() p
  for p in meson ninja-build cmake pkg-config dpkg-dev g++-mingw-w64-i686; do
    installed "$p" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    apt_update
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# `apt-get source` needs a deb-src entry; take the mirror the machine's own
# Debian entries already use rather than naming one here.
ensure_deb_src() {
  if apt-cache showsrc "$1" 2>/dev/null | grep -q '^Package:'; then return 0; fi
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    local mirror suites
    mirror=$(grep -hE '^URIs:.*/debian/?$' /etc/apt/sources.list.d/debian.sources \
               /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2; exit}' || true)
    [ -n "$mirror" ] || mirror=$(grep -hE '^deb .*/debian/? ' /etc/apt/sources.list 2>/dev/null |
                                 awk '{print $2; exit}' || true)
    if [ -z "$mirror" ]; then
      echo "build-windows-bench.sh: no Debian mirror found in the apt sources to add a deb-src entry for" >&2
      return 1
    fi
    # shellcheck disable=SC1091
    suites=$(. /etc/os-release && echo "$VERSION_CODENAME $VERSION_CODENAME-updates")
    printf '%s\n' 'Types: deb-src' "URIs: $mirror" "Suites: $suites" 'Components: main' \
      'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  fi
  apt_updated=0
  apt_update
}

# Prints the unpacked source directory of Debian source package $1 (name-version).
fetch_source() {
  local pkg=$1 dir dsc orig
  for dir in /usr/src/"$pkg"-[0-9]* "$WORK/$pkg"-[0-9]*; do
    if [ -f "$dir/CMakeLists.txt" ] || [ -f "$dir/meson.build" ]; then echo "$dir"; return 0; fi
  done
  ensure_deb_src "$pkg" >&2
  mkdir -p "$WORK"
  if ! (cd "$WORK" && apt-get source -qq "$pkg" >&2); then
    # The mirror may lack a piece other than the upstream tarball (it has
    # had no pixman .diff.gz); the upstream tarball, checked against the .dsc
    # that apt verified, is then unpacked as it is, without Debian's changes.
    dsc=$(find "$WORK" -maxdepth 1 -name "${pkg}_*.dsc" | head -n1)
    orig=$(find "$WORK" -maxdepth 1 -name "${pkg}_*.orig.tar.*" | head -n1)
    if [ -z "$dsc" ] || [ -z "$orig" ] ||
       ! grep -qE "^ $(sha256sum "$orig" | awk '{print $1}') [0-9]+ $(basename "$orig")\$" "$dsc"; then
      echo "build-windows-bench.sh: apt-get source $pkg failed" >&2
      return 1
    fi
    echo "build-windows-bench.sh: warning: using $(basename "$orig") without Debian's changes" >&2
    tar -xf "$orig" -C "$WORK"
  fi
  for dir in "$WORK/$pkg"-[0-9]*; do
    if [ -d "$dir" ]; then echo "$dir"; return 0; fi
  done
  echo "build-windows-bench.sh: no unpacked source of $pkg in $WORK" >&2
  return 1
}

build_benchmark() {
  if [ -f "$PREFIX/lib/libbenchmark.a" ] && [ -f "$PREFIX/lib/cmake/benchmark/benchmarkConfig.cmake" ]; then
    echo "== Google Benchmark: already in $PREFIX"
    return 0
  fi
  local src version
  src=$(fetch_source benchmark)
  version=${src##*/benchmark-}
  echo "== Google Benchmark $version for i686-w64-mingw32"
  rm -rf "$WORK/benchmark-build"
  # Debian's packaging takes the version from the changelog, not from git tags.
  cmake -S "$src" -B "$WORK/benchmark-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_SHARED_LIBS=OFF \
    -DGIT_VERSION="$version" \
    -DBENCHMARK_ENABLE_TESTING=OFF \
    -DBENCHMARK_ENABLE_GTEST_TESTS=OFF \
    -DBENCHMARK_ENABLE_WERROR=OFF \
    -DBENCHMARK_INSTALL_DOCS=OFF >"$WORK/benchmark-configure.log"
  cmake --build "$WORK/benchmark-build" -j "$JOBS" >"$WORK/benchmark-build.log"
  cmake --install "$WORK/benchmark-build" >/dev/null
}

build_pixman() {
  if [ -f "$PREFIX/lib/libpixman-1.a" ] && [ -f "$PREFIX/lib/pkgconfig/pixman-1.pc" ]; then
    echo "== pixman: already in $PREFIX"
    return 0
  fi
  local src
  src=$(fetch_source pixman)
  echo "== pixman ${src##*/pixman-} for i686-w64-mingw32"
  cat >"$WORK/mingw-i686.cross" <<'EOF'
[binaries]
c = 'i686-w64-mingw32-gcc-posix'
cpp = 'i686-w64-mingw32-g++-posix'
ar = 'i686-w64-mingw32-ar'
strip = 'i686-w64-mingw32-strip'
windres = 'i686-w64-mingw32-windres'
pkgconfig = 'pkg-config'

[host_machine]
system = 'windows'
cpu_family = 'x86'
cpu = 'i686'
endian = 'little'
EOF
  rm -rf "$WORK/pixman-build"
  meson setup "$WORK/pixman-build" "$src" \
    --cross-file "$WORK/mingw-i686.cross" \
    --prefix "$PREFIX" --libdir lib \
    --buildtype release \
    -Ddefault_library=static \
    -Dtests=disabled -Dgtk=disabled -Dlibpng=disabled -Dopenmp=disabled >"$WORK/pixman-configure.log"
  ninja -C "$WORK/pixman-build" -j "$JOBS" >"$WORK/pixman-build.log"
  meson install -C "$WORK/pixman-build" >"$WORK/pixman-install.log"
}

ensure_tools
build_benchmark
build_pixman

cd "$ROOT"
echo "== configure and build (preset windows-release)"
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j "$JOBS"

BENCH=zl_bench
if [ "$#" -gt 0 ] && [[ "$1" == zl_* ]]; then
  BENCH=$1
  shift
fi
echo "== run $BENCH under wine"
exec scripts/wine-run.sh "build/windows-release/bin/$BENCH.exe" --benchmark_min_time=0.3 "$@"
