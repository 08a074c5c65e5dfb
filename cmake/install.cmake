# Installation of the whole toolkit:
#
#   cmake --install build/default --prefix /usr [DESTDIR=...]
#
# The Debian packages (debian/, tools/package.sh) install through these
# same rules.  (GNUInstallDirs is included at the top level.)

install(TARGETS captext capscope capscope-runin crestmake crestimg fbpalette vmemburst vbigen vbiscan vbicc
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The stand-in runner installs as `devstandin`; its preload library goes into
# a private folder, where the runner looks for it (tools/standin), so that
# the dynamic linker never picks it up for anything else and no ldconfig run
# is needed.
install(TARGETS devstandin-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS devstandin LIBRARY DESTINATION ${VT_STANDIN_LIBDIR})

# The sample captions and the sample SCC file that the manual page of
# vbigen and the guide use in their examples.
install(FILES ${PROJECT_SOURCE_DIR}/tools/vbigen/sample-captions.txt ${PROJECT_SOURCE_DIR}/tools/vbigen/sample.scc
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
add_custom_target(manpages ALL DEPENDS ${VT_MAN_GZ})
install(FILES ${VT_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
