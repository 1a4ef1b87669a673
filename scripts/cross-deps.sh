#!/usr/bin/env bash
# cross-deps.sh: the libraries of the Windows build (minizip, jsoncpp, libqrencode,
# libcurl with Schannel, OpenSSL's libcrypto, and Qt's base modules for the windows),
# cross-built static for i686-w64-mingw32 from Debian's source packages; zlib itself
# comes from libz-mingw-w64-dev.
#
# Output: $TALVORA_CROSS_CACHE (default ~/.cache/talvora-cross)/<prefix>/{include,lib},
# outside the clone so every checkout on the machine shares it. A library is built
# again only when its pinned version (or its recipe number) changes. Prints the prefix
# on the last line of standard output.
#
# The source side of the archive lags behind its binary side for some security
# updates, so the pins are versions whose sources are really served.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=apt.sh
. "$root/scripts/apt.sh"

PIN_ZLIB="1:1.2.13.dfsg-1"          # minizip lives in zlib's contrib/
PIN_JSONCPP="1.9.5-4"               # source package libjsoncpp
PIN_QRENCODE="4.1.1-1"              # only the upstream tarball is served
PIN_CURL="7.88.1-10+deb12u15"
PIN_OPENSSL="3.0.20-1~deb12u2"
PIN_QTBASE="6.4.2+dfsg-10"          # the host's own Qt, whose moc, rcc and uic it uses
RECIPE=1                            # raise when a build recipe below changes

host=i686-w64-mingw32
cache=${TALVORA_CROSS_CACHE:-$HOME/.cache/talvora-cross}
prefix="$cache/$host"
jobs=${CROSS_JOBS:-2}
export CC=$host-gcc-posix CXX=$host-g++-posix AR=$host-ar RANLIB=$host-ranlib
mkdir -p "$prefix/include" "$prefix/lib" "$cache/stamps"
log() { echo "cross-deps: $*" >&2; }
# Checkouts on one machine share the cache: a second run waits for the first instead of
# removing the source tree it is building from.
exec 9>"$cache/lock"
if ! flock -n 9; then
  log "waiting for another build of the libraries"
  flock 9
fi

# quiet COMMAND...: its output only when it fails.
quiet() {
  "$@" >"$cache/last-step.log" 2>&1 || { tail -n 40 "$cache/last-step.log" >&2; log "failed: $*"; exit 1; }
}
stamp_of() { echo "$1 $2 recipe $RECIPE"; }
is_current() { [ -f "$cache/stamps/$1" ] && [ "$(cat "$cache/stamps/$1")" = "$(stamp_of "$1" "$2")" ]; }
mark_current() { stamp_of "$1" "$2" >"$cache/stamps/$1"; }

# Debian's zlib for mingw (headers and libz.a in /usr/i686-w64-mingw32).
if [ ! -f /usr/$host/lib/libz.a ]; then
  log "libz-mingw-w64-dev is missing (scripts/install-deps.sh installs it)"
  exit 1
fi

# apt with its own configuration and source list: the system's stays untouched.
aptdir="$cache/apt"
apt_ready=0
apt_setup() {
  [ $apt_ready = 1 ] && return
  mkdir -p "$aptdir/lists/partial" "$aptdir/archives/partial" "$aptdir/parts" "$aptdir/prefs"
  local key=/usr/share/keyrings/debian-archive-keyring.gpg
  cat >"$aptdir/sources.list" <<EOF
deb-src [signed-by=$key] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$key] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=$key] http://deb.debian.org/debian-security bookworm-security main
EOF
  cat >"$aptdir/apt.conf" <<EOF
Dir::State "$aptdir";
Dir::State::Lists "$aptdir/lists";
Dir::State::status "/var/lib/dpkg/status";
Dir::Cache "$aptdir";
Dir::Cache::archives "$aptdir/archives";
Dir::Etc::SourceList "$aptdir/sources.list";
Dir::Etc::SourceParts "$aptdir/parts";
Dir::Etc::Preferences "$aptdir/prefs.none";
Dir::Etc::PreferencesParts "$aptdir/prefs";
APT::Sandbox::User "root";
EOF
  export APT_CONFIG="$aptdir/apt.conf"
  log "reading the source lists"
  # Its own lists: no privileges needed.
  APT_SUDO="" apt_refresh >&2
  apt_ready=1
}

# fetch SRCPKG VERSION DIR: the unpacked, patched source tree in DIR. When the archive
# serves only the upstream tarball, that tarball is unpacked without Debian's changes.
fetch() {
  local pkg=$1 version=$2 dir=$3
  apt_setup
  local dl="$cache/sources/$pkg"
  rm -rf "$dl" "$dir"
  mkdir -p "$dl"
  if (cd "$dl" && apt-get source -qq --download-only "$pkg=$version" >/dev/null 2>"$dl/apt.err"); then
    dpkg-source --no-check -x "$dl"/*.dsc "$dir" >/dev/null
  else
    local orig
    orig=$(ls "$dl"/*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -1 || true)
    if [ -z "$orig" ]; then
      cp "$dl/apt.err" "$apt_log"
      apt_give_up "fetch the source of" "$pkg $version"
      exit 1
    fi
    log "$pkg $version: only $(basename "$orig") is served, building it without Debian's changes"
    mkdir -p "$dir"
    tar -xf "$orig" -C "$dir" --strip-components=1
  fi
}

toolchain="$root/cmake/mingw-i686.cmake"
work="$cache/work"
mkdir -p "$work"

build_minizip() {
  local src="$work/zlib"
  fetch zlib "$PIN_ZLIB" "$src"
  local out="$work/minizip-obj"
  rm -rf "$out" && mkdir -p "$out" "$prefix/include/minizip"
  for f in ioapi zip unzip iowin32; do
    $CC -O2 -Wno-unused -I/usr/$host/include -c "$src/contrib/minizip/$f.c" -o "$out/$f.o"
  done
  rm -f "$prefix/lib/libminizip.a"
  $AR rcs "$prefix/lib/libminizip.a" "$out"/*.o
  cp "$src/contrib/minizip/"{ioapi,zip,unzip,iowin32,crypt}.h "$prefix/include/minizip/"
}

build_jsoncpp() {
  local src="$work/jsoncpp"
  fetch libjsoncpp "$PIN_JSONCPP" "$src"
  rm -rf "$src/_build"
  cmake -S "$src" -B "$src/_build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
    -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=OFF >/dev/null
  quiet cmake --build "$src/_build" -j "$jobs"
  quiet cmake --install "$src/_build"
}

build_qrencode() {
  local src="$work/qrencode"
  fetch qrencode "$PIN_QRENCODE" "$src"
  rm -rf "$src/_build"
  cmake -S "$src" -B "$src/_build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DWITH_TOOLS=NO -DWITH_TESTS=NO \
    -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON -DCMAKE_DISABLE_FIND_PACKAGE_Iconv=ON >/dev/null
  quiet cmake --build "$src/_build" -j "$jobs"
  quiet cmake --install "$src/_build"
}

build_curl() {
  local src="$work/curl"
  fetch curl "$PIN_CURL" "$src"
  # HTTP and HTTPS through Windows' own TLS (Schannel); nothing else is needed.
  (cd "$src" && ./configure -q --host=$host --prefix="$prefix" --disable-shared --enable-static \
    --with-schannel --without-openssl --without-zlib --without-brotli --without-zstd \
    --without-libidn2 --without-libpsl --without-nghttp2 --without-librtmp --without-libssh2 \
    --without-ngtcp2 --without-nghttp3 --disable-ldap --disable-ldaps --disable-rtsp \
    --disable-dict --disable-telnet --disable-tftp --disable-pop3 --disable-imap --disable-smb \
    --disable-smtp --disable-gopher --disable-mqtt --disable-ftp --disable-file \
    --disable-manual --disable-docs >/dev/null 2>&1 || \
    { log "curl configure failed, see $src/config.log"; exit 1; })
  quiet make -C "$src/lib" -j "$jobs"
  quiet make -C "$src/lib" install
  quiet make -C "$src/include" install
}

build_openssl() {
  local src="$work/openssl"
  fetch openssl "$PIN_OPENSSL" "$src"
  # libcrypto only, for MD5 and base64; no assembler, so no nasm. Configure puts the
  # cross prefix before the tool names itself.
  (cd "$src" && CC=gcc-posix AR=ar RANLIB=ranlib RC=windres ./Configure mingw no-shared no-asm no-tests no-module no-ui-console \
    --cross-compile-prefix=$host- --prefix="$prefix" --libdir=lib >/dev/null)
  quiet make -C "$src" -j "$jobs" build_generated
  quiet make -C "$src" -j "$jobs" libcrypto.a
  cp "$src/libcrypto.a" "$prefix/lib/"
  rm -rf "$prefix/include/openssl"
  cp -r "$src/include/openssl" "$prefix/include/openssl"
}

# Core, Gui, Widgets, Network, Test and the platform plugins, under $prefix/qt6. The
# host's Qt of the same version provides the code generators. Debian's source lacks
# the tablet library; OpenGL must be off as an input too, or the dynamic-GL parts stay.
build_qtbase() {
  local src="$work/qt6-base"
  fetch qt6-base "$PIN_QTBASE" "$src"
  local out="$work/qt6-base-build"
  rm -rf "$out" "$prefix/qt6"
  quiet cmake -S "$src" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix/qt6" -DBUILD_SHARED_LIBS=OFF \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d1_1=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_system_zlib=ON -DFEATURE_system_png=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_sql_sqlite=OFF -DFEATURE_openssl=OFF \
    -DFEATURE_schannel=ON -DFEATURE_vulkan=OFF -DFEATURE_accessibility=ON
  quiet cmake --build "$out" -j "$jobs"
  quiet cmake --install "$out"
  rm -rf "$out"
}

started=$(date +%s)
items="minizip:zlib:$PIN_ZLIB jsoncpp:libjsoncpp:$PIN_JSONCPP qrencode:qrencode:$PIN_QRENCODE \
  curl:curl:$PIN_CURL openssl:openssl:$PIN_OPENSSL qtbase:qt6-base:$PIN_QTBASE"
for item in $items; do
  name=${item%%:*}
  rest=${item#*:}
  pkg=${rest%%:*}
  version=${rest#*:}
  if is_current "$name" "$pkg=$version"; then
    continue
  fi
  log "building $name from $pkg $version"
  t0=$(date +%s)
  "build_$name"
  rm -rf "$work/${pkg#lib}" "$work/$pkg" "$cache/sources/$pkg" "$work/minizip-obj"
  mark_current "$name" "$pkg=$version"
  log "$name done in $(($(date +%s) - t0)) s"
done
log "libraries ready in $(($(date +%s) - started)) s"
echo "$prefix"
