#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and checks what it
# installs: the programs run from there, the desktop entry and the AppStream
# metadata validate, the manual pages are there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh desktop-file-utils appstream >&2
deb="$(scripts/package.sh | tail -1)"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

"$root/usr/bin/qelda-convert" --version
"$root/usr/bin/qelda-convert" -q examples/quartz.uxd "$root/quartz.gsa"
grep -q "^BANK  *1 " "$root/quartz.gsa"
desktop-file-validate "$root/usr/share/applications/org.qelda.Qelda.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.qelda.Qelda.metainfo.xml" >/dev/null
for page in qelda qelda-convert; do
  test -s "$root/usr/share/man/man1/$page.1.gz"
done
test -s "$root/usr/share/icons/hicolor/256x256/apps/org.qelda.Qelda.png"
echo "package ok: $deb"
