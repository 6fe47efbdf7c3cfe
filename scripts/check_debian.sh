#!/usr/bin/env bash
# Builds the Debian source package in a clean Debian 12 chroot and checks what
# comes out, the way a Debian maintainer would:
#   1. the source package (.dsc) from this checkout, lintian on it;
#   2. a minimal chroot (debootstrap, from the Debian mirror this machine's apt
#      uses), kept as a tarball in the cache so that later runs reuse it;
#   3. in a copy of it: build-essential, the Build-Depends and nothing else
#      (kept as a second tarball until debian/control changes), then
#      dpkg-buildpackage (so a missing Build-Depends fails the build);
#   4. the same source built a second time (another umask and time zone,
#      later in time), every .deb compared byte for byte with the first;
#   5. lintian -I --pedantic on the binaries: errors and warnings fail;
#   6. in a fresh copy of the chroot: the packages installed with apt (no
#      recommends), the tests of debian/tests run against them, then
#      everything purged and the file list compared with the one before.
# The compiler cache and the downloaded packages are kept in the cache folder
# too: a second run downloads nothing and compiles only what changed.
# Usage: scripts/check_debian.sh            (as root; QELDA_DEBIAN_CACHE=DIR to
#                                            move the cache, /var/cache/qelda)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

if [ "$(id -u)" -ne 0 ]; then
  echo "$0: needs root (debootstrap, chroot, mount)" >&2
  exit 2
fi
# Our own mount namespace: every mount made below disappears with the script,
# whatever way it ends.
if [ -z "${QELDA_CHECK_DEBIAN_NS:-}" ]; then
  QELDA_CHECK_DEBIAN_NS=1 exec unshare --mount --propagation private "$0" "$@"
fi

cd "$here"
scripts/deps.sh debootstrap zstd dpkg-dev lintian >&2

cache="${QELDA_DEBIAN_CACHE:-/var/cache/qelda}"
suite=bookworm
tarball="$cache/$suite-chroot.tar.zst"
mkdir -p "$cache/apt-archives/partial" "$cache/ccache"
work="$(mktemp -d /var/tmp/qelda-check-debian.XXXXXX)"
cleanup() {
  local m
  # Deepest first; then the folder, never crossing into anything still mounted.
  for m in $(awk -v w="$work" 'index($2, w) == 1 {print $2}' /proc/self/mounts | sort -r); do
    umount -l "$m" 2>/dev/null || true
  done
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

started=$SECONDS
step() { printf '== %s (%ds)\n' "$*" $((SECONDS - started)); }

# --- The Debian mirror this machine's apt uses ----------------------------------
# The first URI of a source entry for the suite itself (not -updates or
# -security), deb822 or one-line style.
debian_mirrors() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk -v s="$suite" '
      function flush() { if (uri != "" && deb && ok) print uri; uri = ""; deb = 0; ok = 0 }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { for (i = 2; i <= NF; ++i) if ($i == "deb") deb = 1 }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; ++i) if ($i == s) ok = 1 }
      END { flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    awk -v s="$suite" '$1 == "deb" {
      for (i = 2; i <= NF; ++i) if ($i == s) { print ($2 ~ /^\[/ ? $3 : $2); break } }' "$f"
  done
}
mirror="$(debian_mirrors | head -1 || true)"
mirror="${mirror:-http://deb.debian.org/debian}"

# --- Running things in a chroot -------------------------------------------------
prepare_root() {  # ROOT [TARBALL]: unpacks a cached chroot there, mounts what it needs
  local root="$1" from="${2:-$tarball}"
  mkdir -p "$root"
  tar -C "$root" --numeric-owner -I zstd -xf "$from"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
}
in_root() {  # ROOT COMMAND...
  local root="$1"
  shift
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
apt_in() {  # ROOT APT-GET-ARGS...: quiet, its output in apt.log (shown when it fails)
  local root="$1"
  shift
  in_root "$root" apt-get -q -y -o Dpkg::Use-Pty=0 -o APT::Install-Recommends=false "$@" \
    >>"$work/apt.log" 2>&1 || {
    tail -30 "$work/apt.log"
    echo "apt-get $* failed in the chroot" >&2
    return 1
  }
}

# --- 1. The source package ------------------------------------------------------
step "source package"
version="$(dpkg-parsechangelog -S Version)"
source="$(dpkg-parsechangelog -S Source)"
mkdir -p "$work/src/$source-$version"
# What git tracks, with the work tree's changes (not what git ignores).
git ls-files -z -co --exclude-standard | xargs -0 cp --parents -t "$work/src/$source-$version/"
(cd "$work/src" && dpkg-source -q -b "$source-$version" >/dev/null)
dsc="${source}_$version.dsc"
lintian -I --pedantic --fail-on error,warning "$work/src/$dsc"

# --- 2. The chroot, made once ---------------------------------------------------
if [ ! -s "$tarball" ]; then
  step "debootstrap $suite from $mirror into $tarball"
  base="$work/base"
  debootstrap --variant=minbase --cache-dir="$cache/apt-archives" "$suite" "$base" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || { tail -30 "$work/debootstrap.log"; exit 1; }
  # The same package sources as this machine (mirror, updates, security).
  if [ -e /etc/apt/sources.list.d/debian.sources ]; then
    rm -f "$base/etc/apt/sources.list"
    cp /etc/apt/sources.list.d/debian.sources "$base/etc/apt/sources.list.d/"
  fi
  rm -rf "$base"/var/lib/apt/lists/* "$base"/var/cache/apt/archives/*.deb
  tar -C "$base" --numeric-owner -I 'zstd -T0 -9' -cf "$tarball.tmp" .
  mv "$tarball.tmp" "$tarball"
  rm -rf --one-file-system "$base"
fi

# --- 3. The build, with the Build-Depends only ----------------------------------
# The chroot with build-essential and the Build-Depends installed is kept too,
# under the digest of the Build-Depends and of the base chroot: a change to
# either makes a new one, from the base, with exactly what debian/control says.
deps_key="$( (sed -n '/^Build-Depends:/,/^[A-Z][A-Za-z-]*:/p' debian/control |
  sed '$d'; stat -c %Y "$tarball") | sha256sum | cut -c1-16)"
deps_tarball="$cache/$suite-build-deps-$deps_key.tar.zst"
broot="$work/build-root"
mkdir -p "$work/dsc"
cp "$work/src/$dsc" "$work/src/${source}_$version".tar.* "$work/dsc/"
if [ ! -s "$deps_tarball" ] || [ -n "$(find "$deps_tarball" -mtime +7)" ]; then
  step "build chroot: build-essential and the Build-Depends, kept as ${deps_tarball##*/}"
  prepare_root "$broot"
  apt_in "$broot" update
  apt_in "$broot" install build-essential ccache
  mkdir -p "$broot/build"
  cp "$work/dsc/"* "$broot/build/"
  in_root "$broot" dpkg-source -q -x "/build/$dsc" "/build/$source-$version" >/dev/null
  apt_in "$broot" build-dep "/build/$source-$version"
  rm -rf "$broot/build"
  umount "$broot/var/cache/apt/archives" "$broot/dev" "$broot/proc"
  rm -f "$cache/$suite"-build-deps-*.tar.zst
  tar -C "$broot" --numeric-owner -I 'zstd -T0 -3' -cf "$deps_tarball.tmp" .
  mv "$deps_tarball.tmp" "$deps_tarball"
  rm -rf --one-file-system "$broot"
fi
step "build chroot from ${deps_tarball##*/}"
prepare_root "$broot" "$deps_tarball"
mkdir -p "$broot/ccache" "$broot/build"
mount --bind "$cache/ccache" "$broot/ccache"
cp "$work/dsc/"* "$broot/build/"
in_root "$broot" dpkg-source -q -x "/build/$dsc" "/build/$source-$version" >/dev/null
# Proof that nothing is missing: apt has nothing left to install.
missing="$(in_root "$broot" apt-get -s -o APT::Install-Recommends=false build-dep \
  "/build/$source-$version" | sed -n 's/^Inst \([^ ]*\).*/\1/p')"
if [ -n "$missing" ]; then
  echo "the cached build chroot lacks Build-Depends: $missing" >&2
  exit 1
fi

build_once() {  # OUT-FOLDER UMASK TZ: builds /build/SOURCE-VERSION, keeps the results
  local out="$1" mask="$2" tz="$3" log
  log="$work/build-${out##*/}.log"
  in_root "$broot" env CCACHE_DIR=/ccache CCACHE_MAXSIZE=3G TZ="$tz" \
    DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
    sh -c "umask $mask && cd /build/$source-$version && nice -n 10 dpkg-buildpackage -us -uc -b" \
    >"$log" 2>&1 || {
    tail -40 "$log"
    echo "dpkg-buildpackage failed in the chroot" >&2
    exit 1
  }
  mkdir -p "$out"
  mv "$broot"/build/*.deb "$broot"/build/*.ddeb "$broot"/build/*.changes \
    "$broot"/build/*.buildinfo "$out/" 2>/dev/null || true
}
step "dpkg-buildpackage in the chroot"
build_once "$work/first" 0022 UTC
ls "$work/first"

# --- 4. Reproducible: the same source once more ---------------------------------
step "second build (umask 0002, TZ=Etc/GMT-14) for a byte-for-byte comparison"
rm -rf "$broot/build/$source-$version"
in_root "$broot" dpkg-source -q -x "/build/$dsc" "/build/$source-$version" >/dev/null
build_once "$work/second" 0002 Etc/GMT-14
differ=0
for deb in "$work"/first/*.deb "$work"/first/*.ddeb; do
  [ -e "$deb" ] || continue
  if ! cmp -s "$deb" "$work/second/$(basename "$deb")"; then
    echo "not reproducible: $(basename "$deb")" >&2
    differ=1
  fi
done
if ((differ)); then
  # Kept for a look (diffoscope, or dpkg-deb -c / -I side by side).
  rm -rf "$cache/unreproducible"
  mkdir -p "$cache/unreproducible"
  cp -a "$work/first" "$work/second" "$work"/build-*.log "$cache/unreproducible/"
  echo "both builds kept in $cache/unreproducible" >&2
  exit 1
fi
echo "reproducible: $(ls "$work"/first/*.deb "$work"/first/*.ddeb 2>/dev/null | wc -l) packages equal byte for byte"

# Nothing in the packages names the folder they were built in.
mkdir -p "$work/unpacked"
for deb in "$work"/first/*.deb; do dpkg-deb -x "$deb" "$work/unpacked"; done
if grep -rl "/build/$source-$version" "$work/unpacked"; then
  echo "the build folder is written into the files above" >&2
  exit 1
fi
# The command-line converter's package needs nothing of Qt.
if dpkg-deb -f "$work"/first/qelda-convert_*.deb Depends | grep -i qt; then
  echo "qelda-convert depends on Qt" >&2
  exit 1
fi

# --- 5. lintian -----------------------------------------------------------------
step "lintian -I --pedantic on the binary packages"
lintian -I --pedantic --fail-on error,warning "$work"/first/*.changes

# --- 6. Installed with apt, tested, purged --------------------------------------
step "install chroot: install, debian/tests, purge"
iroot="$work/install-root"
prepare_root "$iroot"
apt_in "$iroot" update >/dev/null
snapshot() {  # ROOT: the files a package could leave behind, one a line
  (cd "$1" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./sys -o -path ./run \
    -o -path ./tmp -o -path ./var/tmp -o -path ./var/cache -o -path ./var/log \
    -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./src -o -path ./root \) -prune \
    -o -print | sort)
}
snapshot "$iroot" >"$work/files-before"
in_root "$iroot" dpkg-query -W -f '${Package}\n' | sort >"$work/packages-before"

mkdir -p "$iroot/debs"
cp "$work"/first/*.deb "$iroot/debs/"
packages="$(for d in "$work"/first/*.deb; do dpkg-deb -f "$d" Package; done | tr '\n' ' ')"
# Our packages alone first: their Depends must be enough.
debs=("$iroot"/debs/*.deb)
apt_in "$iroot" install "${debs[@]#"$iroot"}" >/dev/null

# The tests' own Depends ("@" is every package built), then each test from
# the unpacked source, as autopkgtest runs it: a failure or, unless it allows
# it, output on standard error fails it.
mkdir -p "$iroot/src"
cp -a "$work/src/$source-$version/." "$iroot/src/"
test_depends="$(sed -n 's/^Depends:[ \t]*//p' debian/tests/control | tr ',' '\n' |
  sed 's/^[ \t]*//; s/[ \t]*$//; /^@$/d; /^$/d' | sort -u | tr '\n' ' ')"
# shellcheck disable=SC2086
apt_in "$iroot" install $test_depends >/dev/null
failed=0
while IFS='|' read -r name restrictions; do
  mkdir -p "$iroot/tmp/autopkgtest-$name"
  if in_root "$iroot" env AUTOPKGTEST_TMP="/tmp/autopkgtest-$name" \
    sh -c "cd /src && debian/tests/$name" >"$work/test-$name.out" 2>"$work/test-$name.err"; then
    if [ -s "$work/test-$name.err" ] && [[ " $restrictions " != *" allow-stderr "* ]]; then
      echo "test $name: FAIL (output on standard error)"
      failed=1
    else
      echo "test $name: PASS ($(tail -1 "$work/test-$name.out"))"
    fi
  else
    echo "test $name: FAIL"
    failed=1
  fi
  if ((failed)); then cat "$work/test-$name.out" "$work/test-$name.err"; fi
done < <(awk -v RS= '{
    t = ""; r = ""
    n = split($0, l, "\n")
    for (i = 1; i <= n; ++i) {
      if (l[i] ~ /^Tests:/) { t = l[i]; sub(/^Tests:[ \t]*/, "", t) }
      if (l[i] ~ /^Restrictions:/) { r = l[i]; sub(/^Restrictions:[ \t]*/, "", r); gsub(/,/, " ", r) }
    }
    split(t, names, /[ ,]+/)
    for (k in names) if (names[k] != "") print names[k] "|" r
  }' debian/tests/control)
((failed == 0)) || exit 1

# Everything installed since the snapshot goes, purged, and leaves nothing.
in_root "$iroot" dpkg-query -W -f '${Package}\n' | sort >"$work/packages-after"
# shellcheck disable=SC2046
apt_in "$iroot" purge $(comm -13 "$work/packages-before" "$work/packages-after") >/dev/null
left="$(comm -13 "$work/packages-before" <(in_root "$iroot" dpkg-query -W -f '${Package}\n' | sort))"
if [ -n "$left" ]; then
  echo "still installed after the purge: $left" >&2
  exit 1
fi
snapshot "$iroot" >"$work/files-after"
if ! diff -u "$work/files-before" "$work/files-after"; then
  echo "the purge left files behind or took files away (above)" >&2
  exit 1
fi
echo "installed, tested and purged without a trace: $packages"
step "done"
