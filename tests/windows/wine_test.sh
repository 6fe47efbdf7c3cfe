#!/usr/bin/env bash
# qelda-convert.exe under wine: the command line's safety cases with Windows
# paths (drive letters, backslashes, names in other scripts), then one real
# sample of each format converted to every writer and compared byte for byte
# with the Linux converter (skipped when ../shared/samples is absent).
# Usage: tests/windows/wine_test.sh EXE LINUX_CONVERTER
set -euo pipefail
cd "$(dirname "$0")/../.."
EXE="$(realpath "$1")"
LINUX="$(realpath "$2")"
WORK="$(mktemp -d)"
# shellcheck source=wine_lib.sh
. tests/windows/wine_lib.sh
trap 'wine_stop; rm -rf "$WORK"' EXIT
wine_start

# A small x-y scan to convert; every case starts from fresh copies.
scan() {
  local i
  for ((i = 0; i < 30; i++)); do printf '%d.%02d %d\n' $((10 + i / 50)) $((i * 2 % 100)) $((100 + 3 * i)); done
}
fresh() {
  rm -rf "$WORK/c"
  mkdir -p "$WORK/c"
  scan >"$WORK/c/scan.xy"
  scan >"$WORK/c/other.xy"
  printf 'not a scan\n' >"$WORK/c/old.gsa"
}
# expect NAME STATUS COMMAND...: the command's exit status must be STATUS.
expect() {
  local name="$1" want="$2" got=0
  shift 2
  "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" || got=$?
  if [ "$got" = "$want" ]; then pass; else
    fail "$name: exit status $got, expected $want"
    tr -d '\r' <"$WORK/err.txt" | head -3 | sed 's/^/  /' >&2
  fi
}
# same NAME FILE_A FILE_B: byte for byte.
same() { if cmp -s "$2" "$3"; then pass; else fail "$1: $2 and $3 differ"; fi; }
c() { winpath "$WORK/c/$1"; }

# --- refusals: nothing written, exit status 1 as on Linux
fresh
cp "$WORK/c/scan.xy" "$WORK/keep.xy"
expect "output = input" 1 exe "$(c scan.xy)" "$(c scan.xy)"
same "output = input leaves it" "$WORK/c/scan.xy" "$WORK/keep.xy"
# The same file spelt with a forward slash and relative to the current folder.
expect "output = input, other spelling" 1 bash -c 'cd "$1/c" && shift && "$@"' _ "$WORK" \
  "$WINE" "$EXE" "$(c scan.xy)" ./scan.xy
expect "no clobber" 1 exe --no-clobber "$(c scan.xy)" "$(c old.gsa)"
same "no clobber leaves the file" "$WORK/c/old.gsa" <(printf 'not a scan\n')
cp "$WORK/c/other.xy" "$WORK/keep.xy"
expect "same format without --force" 1 exe -t xy "$(c scan.xy)" "$(c other.xy)"
same "same format without --force leaves it" "$WORK/c/other.xy" "$WORK/keep.xy"
expect "missing input" 1 exe "$(c absent.xy)" "$(c absent.gsa)"
[ ! -e "$WORK/c/absent.gsa" ] && pass || fail "missing input: an output was written"
expect "unknown option" 2 exe --no-such-option "$(c scan.xy)" "$(c x.gsa)"
expect "input is a folder" 1 exe "$(winpath "$WORK/c")" "$(c x.gsa)"

# --- conversions, compared with the Linux converter's bytes
fresh
"$LINUX" -q "$WORK/c/scan.xy" "$WORK/linux.gsa" 2>/dev/null
expect "replace an existing file" 0 exe -q "$(c scan.xy)" "$(c old.gsa)"
same "replace an existing file" "$WORK/c/old.gsa" "$WORK/linux.gsa"
leftovers="$(find "$WORK/c" -name '*.tmp')"
[ -z "$leftovers" ] && pass || fail "temporary files left: $leftovers"

mkdir -p "$WORK/linux-batch"
"$LINUX" -q -t gsas -o "$WORK/linux-batch" "$WORK/c/scan.xy" "$WORK/c/other.xy" 2>/dev/null
expect "batch into a new folder (trailing backslash)" 0 \
  exe -q -t gsas "$(c scan.xy)" "$(c other.xy)" "$(c batch)\\"
if diff -r "$WORK/linux-batch" "$WORK/c/batch" >/dev/null; then pass; else
  fail "batch: the folder's files differ from Linux's"
fi

# Names that differ in case only are one file on Windows: a batch refuses to
# write two inputs onto it, and --numbered keeps both.
mkdir -p "$WORK/c/upper"
cp "$WORK/c/other.xy" "$WORK/c/upper/SCAN.xy"
expect "batch: names differing in case only" 1 \
  exe -q -t gsas -o "$(c cased)" "$(c scan.xy)" "$(c upper/SCAN.xy)"
expect "batch: names differing in case only, numbered" 0 \
  exe -q --numbered -t gsas -o "$(c numbered)" "$(c scan.xy)" "$(c upper/SCAN.xy)"
n="$(find "$WORK/c/numbered" -type f | wc -l)"
[ "$n" = 2 ] && pass || fail "numbered batch: $n outputs, expected 2"

name="Ünïcödé データ τ.xy"
cp "$WORK/c/scan.xy" "$WORK/c/$name"
"$LINUX" -q "$WORK/c/$name" "$WORK/linux-named.uxd" 2>/dev/null
expect "non-ASCII names" 0 exe -q "$(c "$name")" "$(c "выход データ.uxd")"
if [ -f "$WORK/c/выход データ.uxd" ]; then
  # The UXD header holds the input's path: compare below it.
  same "non-ASCII names" <(tail -n +2 "$WORK/c/выход データ.uxd") <(tail -n +2 "$WORK/linux-named.uxd")
else
  fail "non-ASCII names: no output under its name ($(ls "$WORK/c" | tr '\n' ' '))"
fi

"$LINUX" -q -t stoe-raw "$WORK/c/scan.xy" - >"$WORK/linux.raw" 2>/dev/null
expect "binary output to standard output" 0 exe -q -t stoe-raw "$(c scan.xy)" -
same "binary output to standard output" "$WORK/out.txt" "$WORK/linux.raw"
expect "standard input" 0 bash -c '"$@" <"$0"' "$WORK/c/scan.xy" "$WINE" "$EXE" -q --from xy -t gsas - "$(c stdin.gsa)"
same "standard input" "$WORK/c/stdin.gsa" "$WORK/linux.gsa"

# --- NeXus: no HDF5 on Windows; listed as unavailable, refused with the reason
expect "formats list" 0 exe --list-formats
if tr -d '\r' <"$WORK/out.txt" | grep -Eq '^  nexus +NeXus +unavailable '; then pass; else
  fail "formats list: NeXus not marked unavailable"
fi
printf '\211HDF\r\n\032\n%0500d' 0 >"$WORK/c/scan.nxs"
expect "NeXus input" 1 exe "$(c scan.nxs)" "$(c nexus.xy)"
if grep -q 'no HDF5 library' "$WORK/err.txt"; then pass; else fail "NeXus input: no reason given"; fi

# --- the console: lines end with CR LF
expect "console lines" 0 exe --version
if grep -q $'\r$' "$WORK/out.txt"; then pass; else fail "console lines: no CR LF"; fi

# --- one real sample of each format, every writer
samples="$(realpath -m ../shared/samples)"
if [ -f "$samples/MANIFEST.tsv" ]; then
  wine_stop
  trap 'rm -rf "$WORK"' EXIT
  if scripts/check-windows.sh --one-per-format "$EXE" "$LINUX"; then pass; else fail "samples"; fi
else
  echo "wine_test: no samples in $samples; the sample comparison is skipped"
fi
echo "qelda-convert.exe under wine: $passes passed, $failures failed"
((failures == 0))
