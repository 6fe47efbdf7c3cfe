# Sourced by the cross builds (build-windows.sh, build-web.sh): the libraries
# that Debian has no build of for the target, built from their Debian source
# packages (apt-get source; never a download from elsewhere), and the
# header-only ones copied from the Linux packages. Needs: prefix (the cross
# prefix), cc, cxx, ar (the target's compilers and archiver).

# deb-src lines for the Debian archive the machine already uses, once.
ensure_deb_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local SUDO="" f
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && grep -q '/debian' "$f" || continue
    sed 's/^Types: *deb$/Types: deb-src/' "$f" | $SUDO tee "/etc/apt/sources.list.d/qelda-src-$(basename "$f")" >/dev/null
  done
  if [ -f /etc/apt/sources.list ] && grep -qE '^deb .*/debian' /etc/apt/sources.list; then
    grep -E '^deb .*/debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/qelda-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
}

# The unpacked Debian source of package $1 (patches applied), in $prefix/src:
# the newest the sources offer, or the release's own when a mirror lacks it.
debian_source() {
  local pkg="$1" dir release
  dir="$(find "$prefix/src" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  if [ -z "$dir" ]; then
    ensure_deb_src
    release="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
    (cd "$prefix/src" && { apt-get source -qq "$pkg" >/dev/null 2>&1 ||
      apt-get source -qq "$pkg/$release" >/dev/null 2>&1 ||
      { apt-get update -qq && apt-get source -qq "$pkg/$release" >/dev/null; }; })
    dir="$(find "$prefix/src" -maxdepth 1 -type d -name "$pkg-*" | head -n1)"
  fi
  if [ -z "$dir" ]; then
    echo "no Debian source of $pkg" >&2
    return 1
  fi
  echo "$dir"
}

# pugixml into $prefix (a static archive and a .pc file), once.
build_pugixml() {
  [ -f "$prefix/lib/libpugixml.a" ] && return 0
  local src version
  src="$(debian_source pugixml)"
  $cxx -O2 -std=c++17 -c "$src/src/pugixml.cpp" -o "$prefix/src/pugixml.o"
  $ar rcs "$prefix/lib/libpugixml.a" "$prefix/src/pugixml.o"
  cp "$src/src/pugixml.hpp" "$src/src/pugiconfig.hpp" "$prefix/include/"
  version="$(basename "$src" | sed 's/^pugixml-//')"
  printf 'prefix=%s\nName: pugixml\nDescription: XML\nVersion: %s\nLibs: -L${prefix}/lib -lpugixml\nCflags: -I${prefix}/include\n' \
    "$prefix" "$version" >"$prefix/lib/pkgconfig/pugixml.pc"
}

# minizip likewise: the files of Debian's libminizip (its Makefile.am) that
# reading needs: ioapi, unzip, zip.
build_minizip() {
  [ -f "$prefix/lib/libminizip.a" ] && return 0
  local src version f objs=()
  src="$(debian_source minizip)"
  for f in ioapi unzip zip; do
    $cc -O2 -I"$prefix/include" -c "$src/$f.c" -o "$prefix/src/minizip-$f.o"
    objs+=("$prefix/src/minizip-$f.o")
  done
  $ar rcs "$prefix/lib/libminizip.a" "${objs[@]}"
  mkdir -p "$prefix/include/minizip"
  cp "$src"/{ioapi,unzip,zip,crypt}.h "$prefix/include/minizip/"
  version="$(basename "$src" | sed 's/^minizip-//')"
  printf 'prefix=%s\nName: minizip\nDescription: zip archives\nVersion: %s\nLibs: -L${prefix}/lib -lminizip -lz\nCflags: -I${prefix}/include/minizip\n' \
    "$prefix" "$version" >"$prefix/lib/pkgconfig/minizip.pc"
}

# zlib likewise, for a target that has none (the web build).
build_zlib() {
  [ -f "$prefix/lib/libz.a" ] && return 0
  local src f objs=()
  src="$(debian_source zlib)"
  for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
    inftrees trees uncompr zutil; do
    $cc -O2 -DHAVE_UNISTD_H -c "$src/$f.c" -o "$prefix/src/zlib-$f.o"
    objs+=("$prefix/src/zlib-$f.o")
  done
  $ar rcs "$prefix/lib/libz.a" "${objs[@]}"
  cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"
}

# Header-only libraries from the Debian packages installed for Linux.
copy_header_libraries() {
  if [ ! -d "$prefix/include/fmt" ]; then cp -r /usr/include/fmt "$prefix/include/"; fi
  if [ ! -d "$prefix/include/CLI" ]; then cp -r /usr/include/CLI "$prefix/include/"; fi
}

