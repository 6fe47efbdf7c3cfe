#!/usr/bin/env bash
# Registers data/qelda-mime.xml in a scratch data folder and asks the desktop's
# own type guessing (GIO over shared-mime-info) what each file is: our scans
# by content where the name is shared with images (.raw, .ras), their own
# files left to the images, our names where nobody else claims them.
# Usage: tests/mime_types.sh SOURCE_DIR    (exits 77, skipped, without gio)
set -euo pipefail
src="$1"
if ! command -v gio >/dev/null || ! command -v update-mime-database >/dev/null; then
  echo "gio or update-mime-database missing (libglib2.0-bin, shared-mime-info): skipped"
  exit 77
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/data/mime/packages" "$tmp/files"
cp "$src/data/qelda-mime.xml" "$tmp/data/mime/packages/qelda.xml"
XDG_DATA_DIRS="$tmp/data" update-mime-database "$tmp/data/mime" >/dev/null

# name | content (printf format) | expected type
cases=(
  'stoe.raw|RAW_1.00 header|application/x-stoe-raw'
  'quartz.raw|@examples/quartz.raw|application/x-stoe-raw'
  'v3.raw|RAW1.01\0\0\0header|application/x-bruker-raw'
  'v4.raw|RAW4.00\0\0\0header|application/x-bruker-raw'
  'v2.raw|RAW2\0\0\0header|application/x-bruker-raw'
  'camera.raw|IIU\0\010\0\0\0image|image/x-panasonic-rw'
  'scan.ras|*RAS_DATA_START\r\n*RAS_HEADER_START\r\n|application/x-rigaku-ras'
  'bom.ras|\357\273\277*RAS_DATA_START\r\n|application/x-rigaku-ras'
  'raster.ras|\0\001\002\003\377\376|image/x-cmu-raster'
  'noname|<?xml version="1.0"?>\n<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5">|application/x-panalytical-xrdml'
  'scan.xrdml|<?xml version="1.0"?>\n<xrdMeasurements>|application/x-panalytical-xrdml'
  'scan.udf|SampleIdent,quartz ,/\n|application/x-philips-udf'
  'scan.gda|BANK 1 10 10 CONST 1 1 0 0 STD\n|application/x-gsas-powder-data'
  'scan.gss|BANK 1 10 10 CONST 1 1 0 0 STD\n|application/x-gsas-powder-data'
  'scan.gsa|BANK 1 10 10 CONST 1 1 0 0 STD\n|application/x-gsas-powder-data'
  'scan.fxye|BANK 1 10 10 CONS 1 1 0 0 FXYE\n|application/x-gsas-fxye'
  'scan.uxd|_FILEVERSION=1\n|application/x-siemens-uxd'
  'scan.ard|header\n|application/x-scintag-ard'
  'scan.dbw|10 0.02 12\n|application/x-dbw'
  'scan.xye|10 1 1\n|application/x-xye'
  'scan.rd|V3RD\0\0\0\0|application/x-philips-rd'
  'scan.sd|V5RD\0\0\0\0|application/x-philips-rd'
  'scan.cpi|SIETRONICS XRD SCAN\r\n10\r\n|application/x-sietronics-cpi'
  'clip.cpi|\0\0\0\0\377\376\001\002|video/mp2t'
  'scan.nxs|\211HDF\r\n\032\n\0\0|application/x-nexus'
  'other.h5|\211HDF\r\n\032\n\0\0|application/x-hdf'
  'scan.brml|PK\003\004|application/x-bruker-brml'
  'scan.rasx|PK\003\004|application/x-rigaku-rasx'
)
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r name content want <<<"$c"
  if [[ "$content" == @* ]]; then
    cp "$src/${content#@}" "$tmp/files/$name"
  else
    # shellcheck disable=SC2059
    printf "$content" >"$tmp/files/$name"
  fi
  got="$(XDG_DATA_HOME="$tmp/data" XDG_DATA_DIRS="$tmp/data:/usr/share" \
    gio info -a standard::content-type "$tmp/files/$name" 2>/dev/null |
    sed -n 's/.*standard::content-type: //p')"
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: $got, expected $want"
    failed=1
  fi
done

# Every type we register is one the desktop entry offers to open, and back.
declared="$(grep -o 'mime-type type="[^"]*"' "$src/data/qelda-mime.xml" | cut -d'"' -f2 | sort)"
offered="$(sed -n 's/^MimeType=//p' "$src/data/org.qelda.Qelda.desktop" | tr ';' '\n' | sed '/^$/d' | sort)"
provided="$(sed -n 's:.*<mediatype>\(.*\)</mediatype>.*:\1:p' "$src/data/org.qelda.Qelda.metainfo.xml" | sort)"
if [ "$declared" != "$offered" ] || [ "$declared" != "$provided" ]; then
  echo "FAIL the MIME types, the desktop entry's MimeType and the AppStream mediatypes differ"
  diff <(echo "$declared") <(echo "$offered") || true
  diff <(echo "$declared") <(echo "$provided") || true
  failed=1
fi
((failed == 0)) && echo "${#cases[@]} files typed as expected"
exit "$failed"
