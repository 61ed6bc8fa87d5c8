# The native tools as a user installs them: `cmake --install` puts the
# programs in lib/imex with recfile's vCard reader and its modules beside
# recfile (where it looks for them), and links to the programs in bin;
# `cpack` in the native build makes the Debian package
# imex-tools_<version>_<arch>.deb of the same files.
if(WIN32 OR IMEX_FUZZ OR NOT TARGET imexsend)
  return()
endif()

include(GNUInstallDirs)
set(imex_tools_dir ${CMAKE_INSTALL_LIBDIR}/imex)
set(imex_tool_programs imexsend recfile pdasim pdatap)
install(TARGETS ${imex_tool_programs} RUNTIME DESTINATION ${imex_tools_dir})
set(recfile_dir ${PROJECT_BINARY_DIR}/tools/recfile)
get_target_property(reader_programs recfile_reader READER_PROGRAMS)
get_target_property(reader_modules recfile_reader READER_MODULES)
list(TRANSFORM reader_programs PREPEND ${recfile_dir}/)
list(TRANSFORM reader_modules PREPEND ${recfile_dir}/)
install(PROGRAMS ${reader_programs} DESTINATION ${imex_tools_dir})
install(FILES ${reader_modules} DESTINATION ${imex_tools_dir})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/tools/imexsend/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/imex-tools)

# Relative links, made here and installed as links, so the tree can move
# (DESTDIR, the package) and recfile still finds what lies beside it.
set(link_dir ${PROJECT_BINARY_DIR}/tool-links)
file(MAKE_DIRECTORY ${link_dir})
file(RELATIVE_PATH to_tools ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${imex_tools_dir})
foreach(program ${imex_tool_programs} comparebooks.py)
  file(CREATE_LINK ${to_tools}/${program} ${link_dir}/${program} SYMBOLIC)
  install(FILES ${link_dir}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME imex-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the imex authors")
set(CPACK_PACKAGE_CONTACT "the imex authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Send address books to handhelds on serial lines (imexsend, recfile, pdasim, pdatap)")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# recfile reads vCards with it; the C and C++ libraries come from the programs themselves.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3-vobject")
find_program(IMEX_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(IMEX_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3-vobject, libc6, libstdc++6, libgcc-s1")
endif()
include(CPack)
