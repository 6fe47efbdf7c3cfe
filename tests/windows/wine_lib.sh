# Shared by the Windows checks: runs qelda-convert.exe under wine, headless,
# in a wine prefix of its own inside the build folder. Sourced, not run.
# Needs: EXE (the .exe), LINUX (the Linux qelda-convert), WORK (a scratch folder).

export WINEDEBUG=-all
# No .NET or browser engine installed into the prefix: a console program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Non-ASCII names pass between Linux and wine as UTF-8.
export LC_ALL=C.UTF-8
WINE="${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}"
WINESERVER="${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}"
export WINEPREFIX="${WINEPREFIX:-$(dirname "$EXE")/wineprefix}"

# One wineserver for the whole run: each program then starts in a fraction of a second.
wine_start() {
  "$WINE" cmd /c exit >/dev/null 2>&1 || true  # makes the prefix on the first run
  "$WINESERVER" -p 2>/dev/null || true
  trap 'wine_stop' EXIT
}
wine_stop() { "$WINESERVER" -k 2>/dev/null || true; }

# The Windows spelling of a Linux path: drive Z: and backslashes.
winpath() {
  local p
  p="$(realpath -m "$1")"
  printf 'Z:%s' "${p//\//\\}"
}

# Runs the .exe; its exit status is the program's.
exe() { "$WINE" "$EXE" "$@"; }

failures=0
passes=0
pass() { passes=$((passes + 1)); }
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# The writers: short names of the formats the Linux converter writes.
writers() { "$LINUX" --list-formats | awk '/(read, write|  write) /{print $1}'; }
# The formats the .exe lists as unavailable.
unavailable() { exe --list-formats | tr -d '\r' | awk '/unavailable/{print $1}'; }

# Converts the files $4.. (relative to folder $3, written with "/" so that
# both converters see the same text: the UXD writer copies the input's path)
# with both converters to writer $1 as a batch into folders under $2, and
# compares the exit statuses and every output byte for byte.
compare_batch() {
  local writer="$1" dir="$2" base="$3"
  shift 3
  local lin="$dir/linux-$writer" win="$dir/windows-$writer" s_lin s_win
  mkdir -p "$lin" "$win"
  s_lin=0
  (cd "$base" && "$LINUX" -q --numbered -t "$writer" -o "$lin" "$@") >/dev/null \
    2>"$dir/linux-$writer.err" || s_lin=$?
  s_win=0
  (cd "$base" && exe -q --numbered -t "$writer" -o "$(winpath "$win")" "$@") >/dev/null \
    2>"$dir/windows-$writer.err" || s_win=$?
  if [ "$s_lin" != "$s_win" ]; then
    fail "$writer: exit status $s_win on Windows, $s_lin on Linux"
    tr -d '\r' <"$dir/windows-$writer.err" | head -5 | sed 's/^/  windows: /' >&2
  fi
  if diff -r "$lin" "$win" >"$dir/diff-$writer.txt" 2>&1; then
    pass
  else
    fail "$writer: outputs differ (see $dir/diff-$writer.txt)"
    head -5 "$dir/diff-$writer.txt" >&2
  fi
}
