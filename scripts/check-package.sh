#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks that it holds both
# programs and their resources and that its dependencies were filled in.
set -euo pipefail
build=${1:?build directory}
cd "$build"
rm -f ./*.deb
cpack -G DEB >/dev/null
deb=$(ls ./*.deb)
contents=$(dpkg-deb --contents "$deb")
depends=$(dpkg-deb -f "$deb" Depends)
fail=0
for path in ./usr/bin/ovixpatch ./usr/bin/OvixServerCommit \
            ./usr/lib/ovix/bin/linux64/ovixpatch ./usr/lib/ovix/bin/linux64/OvixServerCommit \
            ./usr/share/applications/OvixServerCommit.desktop \
            ./usr/share/icons/hicolor/64x64/apps/ovix.png ./usr/lib/ovix/temp/; do
  grep -qF " $path" <<<"$contents" || { echo "package lacks $path"; fail=1; }
done
for lib in libqt6widgets6 libsqlite3-0 libmariadb3 libuuid1 zlib1g libstdc++6 libc6; do
  grep -q "$lib" <<<"$depends" || { echo "package does not depend on $lib"; fail=1; }
done
[ $fail -eq 0 ] || exit 1
echo "package ok: $(basename "$deb")"
echo "  Depends: $depends"
