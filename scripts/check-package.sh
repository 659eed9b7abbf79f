#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks that it holds both
# programs and their resources, their manual pages (made from --help), a
# desktop entry that offers the jobs as actions, and that its dependencies
# were filled in.
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
            ./usr/share/icons/hicolor/64x64/apps/ovix.png ./usr/lib/ovix/temp/ \
            ./usr/share/man/man1/ovixpatch.1.gz ./usr/share/man/man1/OvixServerCommit.1.gz; do
  grep -qF " $path" <<<"$contents" || { echo "package lacks $path"; fail=1; }
done

# A file of the package, printed.
packaged() { dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "$1"; }

# The manual pages: each with its name line and what --help lists.
man_pages=$(packaged ./usr/share/man/man1/OvixServerCommit.1.gz | gzip -dc)
for text in 'OvixServerCommit \- pack, publish' '\-pack' '\-project' '\-upload' \
            '\-upproject' '\-download' '\-checkupdate' '\-info' '\-\-version'; do
  grep -qF -- "$text" <<<"$man_pages" || { echo "OvixServerCommit(1) lacks $text"; fail=1; }
done
man_pages=$(packaged ./usr/share/man/man1/ovixpatch.1.gz | gzip -dc)
for text in 'ovixpatch \- pack, publish' 'upproject' 'checkupdate' '.local/share/ovix'; do
  grep -qF -- "$text" <<<"$man_pages" || { echo "ovixpatch(1) lacks $text"; fail=1; }
done

# The desktop entry: valid, and one action per job with a dialog.
desktop=$(mktemp --suffix=.desktop)
packaged ./usr/share/applications/OvixServerCommit.desktop >"$desktop"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || { echo "desktop entry is not valid"; fail=1; }
fi
grep -qx 'Actions=pack;upload;download;project;upproject;info;' "$desktop" ||
  { echo "desktop entry does not list the actions"; fail=1; }
for job in pack upload download project upproject info; do
  action=$(sed -n "/^\[Desktop Action $job\]/,/^\[/p" "$desktop")
  grep -qx "Exec=OvixServerCommit -$job" <<<"$action" ||
    { echo "desktop action $job does not run OvixServerCommit -$job"; fail=1; }
  for key in 'Name' 'Name[zh_CN]'; do
    grep -qxF "$key" <<<"$(cut -d= -f1 <<<"$action")" ||
      { echo "desktop action $job lacks $key"; fail=1; }
  done
done
rm -f "$desktop"
for lib in libqt6widgets6 libsqlite3-0 libmariadb3 libuuid1 zlib1g libstdc++6 libc6; do
  grep -q "$lib" <<<"$depends" || { echo "package does not depend on $lib"; fail=1; }
done
[ $fail -eq 0 ] || exit 1
echo "package ok: $(basename "$deb")"
echo "  Depends: $depends"
