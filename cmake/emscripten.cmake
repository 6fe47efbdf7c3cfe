# Builds the conversion core to WebAssembly with Debian's emscripten, for the
# page web/qelda.html (scripts/build-web.sh). The libraries emscripten has no
# port of here (zlib, pugixml, minizip) are built by that script from their
# Debian sources into QELDA_CROSS_DEPS.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
list(APPEND CMAKE_FIND_ROOT_PATH ${QELDA_CROSS_DEPS})
if(QELDA_CROSS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${QELDA_CROSS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()
