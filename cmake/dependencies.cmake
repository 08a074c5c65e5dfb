# The libraries the build needs, looked for before anything is built: a
# machine without one stops here, with one line that names the Debian
# package to install, instead of failing deep in the build.
# tools/install-deps.sh installs them all.
#
# Each result is an ordinary cache variable (VT_XLIB_HEADER, VT_XLIB_LIBRARY,
# ...), so a library in an unusual place can be named on the command line;
# a name that does not point at the file counts as missing.
#
# A 32-bit build on an amd64 machine links the i386 libraries, which come
# from the i386 packages (libx11-dev:i386); headers-only packages serve
# every architecture.

set(vt_deb_arch "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64)$")
  set(vt_deb_arch ":i386")
endif()

set(vt_missing_what)
set(vt_missing_packages)

# vt_require(WHAT PACKAGE [ARCH] [HEADER var file] [LIBRARY var name]
#            [SOURCES var dir]): PACKAGE is the Debian package, ARCH marks one
# whose files depend on the architecture; SOURCES is a source tree that the
# build adds as a subdirectory.
function(vt_require what package)
  cmake_parse_arguments(R "ARCH" "" "HEADER;LIBRARY;SOURCES" ${ARGN})
  set(found TRUE)
  foreach(kind HEADER LIBRARY SOURCES)
    if(NOT R_${kind})
      continue()
    endif()
    list(GET R_${kind} 0 var)
    list(GET R_${kind} 1 name)
    if(kind STREQUAL HEADER)
      find_path(${var} ${name})
      set(file "${${var}}/${name}")
    elseif(kind STREQUAL LIBRARY)
      find_library(${var} ${name})
      set(file "${${var}}")
    else()
      find_path(${var} CMakeLists.txt PATHS ${name} NO_DEFAULT_PATH)
      set(file "${${var}}/CMakeLists.txt")
    endif()
    if(NOT ${var} OR NOT EXISTS "${file}")
      set(found FALSE)
    endif()
  endforeach()
  if(NOT found)
    if(R_ARCH)
      string(APPEND package "${vt_deb_arch}")
    endif()
    set(vt_missing_what ${vt_missing_what} "${what}" PARENT_SCOPE)
    set(vt_missing_packages ${vt_missing_packages} ${package} PARENT_SCOPE)
  endif()
endfunction()

vt_require(Xlib libx11-dev ARCH
           HEADER VT_XLIB_HEADER X11/Xlib.h LIBRARY VT_XLIB_LIBRARY X11)
vt_require(libpng libpng-dev ARCH
           HEADER VT_PNG_HEADER png.h LIBRARY VT_PNG_LIBRARY png)
vt_require(nlohmann-json nlohmann-json3-dev
           HEADER VT_JSON_HEADER nlohmann/json.hpp)
# The tests drive the scopes through XTest and are built with GoogleTest
# from Debian's sources, compiled with this build's flags.
if(VT_TESTS)
  vt_require(XTest libxtst-dev ARCH
             HEADER VT_XTEST_HEADER X11/extensions/XTest.h LIBRARY VT_XTEST_LIBRARY Xtst)
  vt_require(GoogleTest googletest
             SOURCES VT_GOOGLETEST_SOURCE_DIR /usr/src/googletest)
endif()

if(vt_missing_what)
  list(LENGTH vt_missing_what n)
  if(n EQUAL 1)
    set(line "${vt_missing_what} not found: install the Debian package ${vt_missing_packages}")
  else()
    list(POP_BACK vt_missing_what last)
    list(JOIN vt_missing_what ", " first)
    list(JOIN vt_missing_packages " " packages)
    set(line "${first} and ${last} not found: install the Debian packages ${packages}")
  endif()
  # The leading space keeps CMake from wrapping the line.
  message(FATAL_ERROR " ${line}")
endif()
