#!/usr/bin/env bash
# Cross-builds vexlink for Windows x64 with MinGW-w64 into build-win/ (or
# $WIN_BUILD_DIR) and gathers build-win/dist/ (vexlink.exe, the emulator and
# the DLL they need) and a zip of it named with the version.
# OpenSSL, SQLite and GoogleTest have no MinGW builds in Debian: they are built
# from Debian's source packages of the versions installed for the Linux build,
# fetched through a private apt setup (the machine's own apt configuration is
# left alone), and kept in $VEXLINK_WIN_CACHE (default
# /var/cache/vexlink-win-deps, or ~/.cache/vexlink-win-deps when that is not
# writable) under a folder named by their versions, so later runs reuse them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${WIN_BUILD_DIR:-$root/build-win}"
host=x86_64-w64-mingw32
jobs="$(nproc)"

# The cross compiler (posix threads), Wine to run the results, tclsh to make
# SQLite's amalgamation, dpkg-dev for apt-get source, zip for the archive.
need="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine tcl dpkg-dev zip cmake make"
missing=""
for p in $need; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "build-windows: installing$missing"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
fi

cache="${VEXLINK_WIN_CACHE:-/var/cache/vexlink-win-deps}"
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  cache="$HOME/.cache/vexlink-win-deps"
  mkdir -p "$cache"
fi
# The source package versions of the Linux build's libraries: the Windows
# build uses the same ones.
srcver() { dpkg-query -W -f='${source:Version}' "$1"; }
ssl_ver="$(srcver libssl-dev)"
sqlite_ver="$(srcver libsqlite3-dev)"
gtest_ver="$(srcver googletest)"
deps="$cache/openssl-${ssl_ver}_sqlite-${sqlite_ver}_googletest-${gtest_ver}_$($host-g++-posix -dumpversion)"
deps="${deps//[:~+]/_}"
echo "build-windows: dependencies in $deps"

# apt with its own sources list (deb-src of the machine's suites), lists and
# archives under the cache: nothing of /etc/apt or /var/lib/apt changes.
apt_private() {
  local dir="$cache/apt"
  mkdir -p "$dir/lists/partial" "$dir/archives/partial"
  if [ ! -f "$dir/sources.list" ]; then
    local suites
    suites="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
      grep -v -e google -e nodesource | sort -u)"
    [ -n "$suites" ] || suites="http://deb.debian.org/debian/ bookworm"
    echo "$suites" | while read -r uri suite; do
      echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main"
    done >"$dir/sources.list"
  fi
  apt-get -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir" -o Dir::Cache::archives="$dir/archives" \
    -o Dir::State::status=/var/lib/dpkg/status -o APT::Sandbox::User=root "$@"
}
apt_private_cache() {
  local dir="$cache/apt"
  apt-cache -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir" -o Dir::State::status=/var/lib/dpkg/status "$@"
}
# Fetches and unpacks source package $1 at version $2 into $3; when the
# archive no longer serves that version, the next one it does serve (newest
# first), noted in $3/VERSION.
fetch_source() {
  local pkg="$1" ver="$2" dir="$3" v
  rm -rf "$dir"; mkdir -p "$dir"
  [ -f "$cache/apt/updated" ] || { apt_private update -qq; touch "$cache/apt/updated"; }
  for v in "$ver" $(apt_private_cache showsrc "$pkg" | sed -n 's/^Version: //p'); do
    if (cd "$dir" && apt_private source -qq "$pkg=$v" >/dev/null 2>&1); then
      [ "$v" = "$ver" ] || echo "build-windows: $pkg $ver is gone from the archive, built $v" >&2
      echo "$v" >"$dir/VERSION"
      return 0
    fi
    rm -rf "${dir:?}"/*
  done
  echo "build-windows: cannot fetch the source of $pkg" >&2
  return 1
}

if [ ! -f "$deps/.complete" ]; then
  start=$SECONDS
  rm -rf "$deps"; mkdir -p "$deps/include" "$deps/lib"
  work="$cache/work"; rm -rf "$work"; mkdir -p "$work"

  # OpenSSL: static libraries only.
  fetch_source openssl "$ssl_ver" "$work/openssl"
  (cd "$work"/openssl/openssl-*/ &&
    ./Configure mingw64 --cross-compile-prefix=$host- no-shared no-tests \
      --prefix="$deps" --libdir=lib >/dev/null &&
    { make -j"$jobs" build_libs >/dev/null 2>"$work/openssl.log" || { tail -40 "$work/openssl.log"; exit 1; }; } &&
    make install_dev >/dev/null)

  # SQLite: the amalgamation is made natively, then compiled for Windows.
  fetch_source sqlite3 "$sqlite_ver" "$work/sqlite"
  (cd "$work"/sqlite/sqlite3-*/ && mkdir -p bld && cd bld &&
    ../configure --disable-tcl >/dev/null && make sqlite3.c >/dev/null &&
    $host-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -c sqlite3.c -o sqlite3.o &&
    $host-ar rcs "$deps/lib/libsqlite3.a" sqlite3.o && cp sqlite3.h sqlite3ext.h "$deps/include/")

  # GoogleTest (with GoogleMock), static.
  fetch_source googletest "$gtest_ver" "$work/googletest"
  (cd "$work"/googletest/googletest-*/ &&
    cmake -S . -B bld -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" -Dgtest_disable_pthreads=OFF >/dev/null &&
    cmake --build bld -j"$jobs" >/dev/null && cmake --install bld >/dev/null)

  # Boost: headers only, from the Linux installation; a folder of its own so
  # the cross compiler never sees the rest of /usr/include.
  mkdir -p "$deps/boost-include"
  ln -sfn /usr/include/boost "$deps/boost-include/boost"

  rm -rf "$work"
  touch "$deps/.complete"
  echo "build-windows: dependencies built in $((SECONDS - start)) s"
fi

export VEXLINK_WIN_DEPS="$deps"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLINK_BENCH=OFF \
  -DCMAKE_PREFIX_PATH="$deps" -DOPENSSL_ROOT_DIR="$deps" \
  -DSQLite3_INCLUDE_DIR="$deps/include" -DSQLite3_LIBRARY="$deps/lib/libsqlite3.a" \
  -DVEXLINK_BOOST_INCLUDE="$deps/boost-include" "$@" >/dev/null
cmake --build "$build" -j"$jobs"

# dist/: the programs and every DLL they load that Windows does not bring.
dist="$build/dist"
rm -rf "$dist"; mkdir -p "$dist"
cp "$build/bin/vexlink.exe" "$build/bin/vexlink-hostemu.exe" "$build/bin/wirecomm-2.dll" "$dist/"
version="$(sed -n 's/^project(vexlink VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
for f in "$dist"/*.exe "$dist"/*.dll; do
  for dll in $($host-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
    # Those of Windows itself are the ones Wine has.
    if [ ! -f "$dist/$dll" ] && [ ! -f "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/${dll,,}" ]; then
      echo "build-windows: $(basename "$f") needs $dll, which is not in dist/" >&2; exit 1
    fi
  done
done
rm -f "$build"/vexlink-*-win64.zip
(cd "$build" && zip -qr "vexlink-$version-win64.zip" dist)
echo "build-windows: $dist and $build/vexlink-$version-win64.zip"
