# libqelda, the public C++ API (include/qelda/), as a shared library with a
# CMake package (find_package(qelda)) and a pkg-config file; and the Python
# module `qelda` over the same code.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The core goes into a shared library and a Python module.
set_target_properties(qelda_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

# The API's code, compiled once for the library, the module and the tests.
add_library(qelda_api OBJECT lib/qelda.cpp)
set_target_properties(qelda_api PROPERTIES POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(qelda_api PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                     PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(qelda_api PUBLIC qelda_core)

add_library(libqelda SHARED $<TARGET_OBJECTS:qelda_api>)
target_link_libraries(libqelda PRIVATE qelda_core)
target_include_directories(libqelda INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                              $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(libqelda INTERFACE cxx_std_17)
set_target_properties(libqelda PROPERTIES
  OUTPUT_NAME qelda EXPORT_NAME qelda
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
# Only the API is exported; the core's symbols stay inside.
target_link_options(libqelda PRIVATE -Wl,--exclude-libs,ALL)
add_library(qelda::qelda ALIAS libqelda)

option(QELDA_INSTALL_LIBRARY "Install libqelda, its header, its CMake and pkg-config files" ON)
if(QELDA_INSTALL_LIBRARY)
  install(TARGETS libqelda EXPORT qeldaTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
  install(FILES include/qelda/qelda.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qelda
          COMPONENT library)
  set(QELDA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qelda)
  install(EXPORT qeldaTargets NAMESPACE qelda:: DESTINATION ${QELDA_CMAKE_DIR}
          COMPONENT library)
  configure_package_config_file(cmake/qeldaConfig.cmake.in
    ${CMAKE_BINARY_DIR}/qeldaConfig.cmake INSTALL_DESTINATION ${QELDA_CMAKE_DIR})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/qeldaConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/qeldaConfig.cmake ${CMAKE_BINARY_DIR}/qeldaConfigVersion.cmake
          DESTINATION ${QELDA_CMAKE_DIR} COMPONENT library)
  # The pkg-config file finds its prefix from where it lies, so that the
  # installed tree can be moved.
  file(RELATIVE_PATH QELDA_PC_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  string(REGEX REPLACE "/$" "" QELDA_PC_PREFIX "${QELDA_PC_PREFIX}")
  configure_file(cmake/qelda.pc.in ${CMAKE_BINARY_DIR}/qelda.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/qelda.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT library)
endif()

# The Python module: the Debian packages' interpreter (NumPy and pytest come
# from Debian), not whichever python3 a PATH finds first. Not under the
# sanitizers: the interpreter is not built with them.
option(QELDA_BUILD_PYTHON "Build the Python module qelda" ON)
if(QELDA_BUILD_PYTHON AND NOT QELDA_SANITIZE)
  if(NOT DEFINED Python_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python_EXECUTABLE /usr/bin/python3)
  endif()
  find_package(Python 3.9 COMPONENTS Interpreter Development.Module)
  set(PYBIND11_FINDPYTHON ON)
  find_package(pybind11 CONFIG)
  if(NOT Python_FOUND OR NOT pybind11_FOUND)
    message(WARNING "pybind11 or Python's headers missing (scripts/deps.sh): no Python module")
  else()
    set(QELDA_PYTHON_DIR ${CMAKE_BINARY_DIR}/python)
    pybind11_add_module(_qelda MODULE NO_EXTRAS python/qelda_module.cpp)
    target_link_libraries(_qelda PRIVATE qelda_api)
    set_target_properties(_qelda PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${QELDA_PYTHON_DIR}/qelda)
    # The package's Python files beside the module, copied at every build.
    file(GLOB QELDA_PY_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/python/qelda/*)
    set(QELDA_PY_COPIES)
    foreach(f ${QELDA_PY_FILES})
      get_filename_component(n ${f} NAME)
      add_custom_command(OUTPUT ${QELDA_PYTHON_DIR}/qelda/${n}
        COMMAND ${CMAKE_COMMAND} -E copy ${f} ${QELDA_PYTHON_DIR}/qelda/${n} DEPENDS ${f})
      list(APPEND QELDA_PY_COPIES ${QELDA_PYTHON_DIR}/qelda/${n})
    endforeach()
    add_custom_target(qelda_python ALL DEPENDS ${QELDA_PY_COPIES} _qelda)
    # Installed as the package qelda: relative to the prefix, Python's own
    # layout by default; Debian's packages take lib/python3/dist-packages.
    set(QELDA_PYTHON_INSTALL_DIR
        "${CMAKE_INSTALL_LIBDIR}/python${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}/site-packages"
        CACHE STRING "Where the Python package qelda is installed, relative to the prefix")
    install(TARGETS _qelda LIBRARY DESTINATION ${QELDA_PYTHON_INSTALL_DIR}/qelda COMPONENT python)
    install(FILES ${QELDA_PY_FILES} DESTINATION ${QELDA_PYTHON_INSTALL_DIR}/qelda COMPONENT python)
  endif()
endif()
