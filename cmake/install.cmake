# Installation and Debian packages of the whole toolkit.
#
#   cmake --install build/default --prefix /usr [DESTDIR=...]
#   cpack --config build/default/CPackConfig.cmake -G DEB     (amd64)
#   cpack --config build/i386/CPackConfig.cmake -G DEB        (i386, the target)
#
# Programs that live on other branches may not exist yet in a given tree:
# every rule is guarded, so the package holds whatever has been built.
include(GNUInstallDirs)

set(VT_PROGRAMS captext capscope capscope-runin crestmake crestimg fbpalette vmemburst vbigen vbiscan)
foreach(prog ${VT_PROGRAMS})
  if(TARGET ${prog})
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The stand-in runner installs as `devstandin`; its preload library goes into
# a private folder, where the runner looks for it (tools/standin), so that it
# is never picked up by the dynamic linker for anything else.
if(TARGET devstandin-run AND TARGET devstandin)
  install(TARGETS devstandin-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS devstandin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/devstandin)
endif()

# The sample captions that the manual page of vbigen uses in its examples.
if(TARGET vbigen)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/vbigen/sample-captions.txt
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Manual pages, section 1, compressed as Debian ships them.
file(GLOB VT_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/man/*.1)
set(VT_MAN_GZ)
foreach(page ${VT_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  set(gz ${CMAKE_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${page} > ${gz}
    DEPENDS ${page} VERBATIM)
  list(APPEND VT_MAN_GZ ${gz})
endforeach()
if(VT_MAN_GZ)
  add_custom_target(manpages ALL DEPENDS ${VT_MAN_GZ})
  install(FILES ${VT_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# One Debian package for the whole toolkit.  The architecture follows the
# build: the i386 preset builds with -m32, so its package is i386 although
# the machine that builds it is amd64.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vbitools)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_CONTACT "vbitools maintainers <vbitools@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "bring-up tools for a television-capable display device")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "bring-up tools for a television-capable display device
 Closed-caption decoders for the device's VBI capture (captext on the
 console, capscope and capscope-runin as X11 scopes of the sampled line),
 converters between PPM images and crest logos (crestmake, crestimg), the
 frame-buffer palette loader (fbpalette) and a video memory burst benchmark
 (vmemburst). For work without the device: a VBI caption signal generator
 (vbigen) and a device stand-in that replays captures (devstandin).")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps works out libc6, libstdc++6, libgcc-s1 and, with the
# scopes, libx11-6, from the ELF files themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  # A -m32 build on amd64 links the multilib copies in /usr/lib32, which
  # belong to amd64 packages (lib32stdc++6); on the target the programs use
  # the i386 packages' libraries.  cpack reads this file when it runs, and
  # points dpkg-shlibdeps at the i386 library folders first.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-i386.cmake)
else()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
