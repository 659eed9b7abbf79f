#!/usr/bin/env bash
# Makes resources/windows/ovix.ico (16, 24, 32, 48 and 64 pixels) from
# resources/ovix.png with ImageMagick (Debian package imagemagick).  The
# icon is kept in the repository, so a build needs no ImageMagick; run this
# again after the picture changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
/usr/bin/convert "$root/resources/ovix.png" -background none \
  -define icon:auto-resize=64,48,32,24,16 "$root/resources/windows/ovix.ico"
