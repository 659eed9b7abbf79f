#!/usr/bin/env bash
# Builds, once, the libraries that the Windows programs need and that Debian
# does not package for MinGW: SQLite, the MariaDB client library and
# libsodium, from their Debian source packages, and GoogleTest from
# libgtest-dev's sources.  CLI11 and SimpleIni are header-only and copied.
#
#   build-deps.sh [PREFIX]     default: $OVIX_WINDOWS_DEPS or
#                              ~/.cache/ovix/windows-deps
#
# The source packages are fetched with apt through a private list of
# deb-src entries (the system's apt configuration is not touched), pinned to
# the versions below, and checked against sources.sha256 before they are
# unpacked.  PREFIX/stamp records what was built; when it matches, nothing
# is done.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=${1:-${OVIX_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/ovix/windows-deps}}
mingw=x86_64-w64-mingw32
jobs=$(nproc)

sources=(sqlite3=3.40.1-2+deb12u2 mariadb=1:10.11.18-0+deb12u1 libsodium=1.0.18-1+deb12u1)
stamp_text="$(sha256sum "$0" "$here/sources.sha256" "$here/../../cmake/mingw-w64-x86_64.cmake" | cut -c1-64)"
if [[ -f $prefix/stamp && "$(cat "$prefix/stamp")" == "$stamp_text" ]]; then
  echo "windows deps: up to date in $prefix"
  exit 0
fi

log() { echo "windows deps: $*"; }
rm -rf "$prefix"
mkdir -p "$prefix"/{include,lib}
work=$prefix/work
mkdir -p "$work/apt/lists/partial" "$work/src"

log "fetching ${sources[*]}"
sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
  >"$work/apt/debian-src.sources"
apt_private=(-q -o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$work/apt"
             -o "Dir::State::Lists=$work/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get "${apt_private[@]}" update >/dev/null
(cd "$work/src" && apt-get "${apt_private[@]}" source --download-only "${sources[@]}" >/dev/null)
(cd "$work/src" && sha256sum --quiet -c "$here/sources.sha256")
# The checksums above pin every file, so dpkg-source need not check them
# again.  Of MariaDB only the client library's folder is unpacked.
for dsc in "$work"/src/sqlite3_*.dsc "$work"/src/libsodium_*.dsc; do
  (cd "$work/src" && dpkg-source --no-check -x "$(basename "$dsc")" >/dev/null)
done
(cd "$work/src" && tar xzf mariadb_*.orig.tar.gz --wildcards '*/libmariadb/*')
toolchain=$here/../../cmake/mingw-w64-x86_64.cmake

log "SQLite"
sqlite_src=$(ls -d "$work"/src/sqlite3-*/)
mkdir -p "$work/sqlite-build"
(cd "$work/sqlite-build" && "$sqlite_src/configure" >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
"$mingw-gcc-posix" -O2 -c "$work/sqlite-build/sqlite3.c" -o "$work/sqlite-build/sqlite3.o" \
  -DSQLITE_THREADSAFE=1 -DSQLITE_DEFAULT_FOREIGN_KEYS=0 -DSQLITE_ENABLE_COLUMN_METADATA
"$mingw-ar" rcs "$prefix/lib/libsqlite3.a" "$work/sqlite-build/sqlite3.o"
cp "$work/sqlite-build/sqlite3.h" "$work/sqlite-build/sqlite3ext.h" "$prefix/include/"

log "MariaDB client library"
mariadb_src=$(ls -d "$work"/src/mariadb-10.11*/)
cmake -S "$mariadb_src/libmariadb" -B "$work/mariadb-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DWITH_SSL=SCHANNEL \
  -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=ON >/dev/null
cmake --build "$work/mariadb-build" -j"$jobs" --target mariadbclient >/dev/null
cp "$work/mariadb-build/libmariadb/libmariadbclient.a" "$prefix/lib/"
mkdir -p "$prefix/include/mariadb"
cp "$mariadb_src"/libmariadb/include/*.h "$work"/mariadb-build/include/*.h "$prefix/include/mariadb/"
cp -r "$mariadb_src"/libmariadb/include/mysql "$prefix/include/mariadb/"

log "libsodium"
sodium_src=$(ls -d "$work"/src/libsodium-*/)
# Debian's source is the release tag without generated files.
(cd "$sodium_src" && ./autogen.sh -s >/dev/null 2>&1 && ./configure --host=$mingw --prefix="$prefix" --disable-shared \
   --enable-static --disable-pie CC=$mingw-gcc-posix >/dev/null && make -j"$jobs" >/dev/null &&
 make install >/dev/null)

log "GoogleTest"
cmake -S /usr/src/googletest -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF >/dev/null
cmake --build "$work/gtest-build" -j"$jobs" >/dev/null
cmake --install "$work/gtest-build" >/dev/null

log "header-only libraries"
cp -r /usr/include/CLI "$prefix/include/"
cp /usr/include/SimpleIni.h "$prefix/include/"

rm -rf "$work"
echo "$stamp_text" >"$prefix/stamp"
log "built in $prefix"
