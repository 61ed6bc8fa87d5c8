# imex.dll as a host program's developer gets it, for the Windows builds:
# import libraries for mingw and MSVC, `cmake --install` with a CMake package
# (find_package(imex) gives imex::imex), the release ZIP (CPack), and the
# link options that make the same sources give the same DLL in any folder.
# docs/host-integration.md describes what a host developer finds.
if(NOT WIN32)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(IMEX_IMAGE_BASE 0x267e40000)
  set(IMEX_PACKAGE_SYSTEM win64)
  set(IMEX_LLVM_MACHINE i386:x86-64)
else()
  set(IMEX_IMAGE_BASE 0x67e40000)
  set(IMEX_PACKAGE_SYSTEM win32)
  set(IMEX_LLVM_MACHINE i386)
endif()

# No link time in the image, and a fixed image base where ld would hash one
# from the output's path: the same objects give the same bytes.
target_link_options(imex PRIVATE -Wl,--no-insert-timestamp -Wl,--image-base,${IMEX_IMAGE_BASE})

# The consumer .def: the DLL's exports under the names callers' compilers
# ask for. On i686 the header's __stdcall makes them ask for ImEx@28, so
# `ImEx = ImEx@28 @1` becomes `ImEx@28 @1`; both import libraries are made
# with -k, which keeps the import itself naming the export ImEx.
get_target_property(imex_sources imex SOURCES)
list(FILTER imex_sources INCLUDE REGEX "\\.def$")
file(STRINGS ${imex_sources} imex_def_lines)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${imex_sources})
set(imex_consumer_exports "")
foreach(line IN LISTS imex_def_lines)
  if(line MATCHES "^[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]*=[ \t]*([^ \t]+)[ \t]+(@[0-9]+)")
    string(APPEND imex_consumer_exports "    ${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
  elseif(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_@]*)[ \t]+(@[0-9]+)")
    string(APPEND imex_consumer_exports "    ${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
  endif()
endforeach()
if(imex_consumer_exports STREQUAL "")
  message(FATAL_ERROR "no export found in ${imex_sources}")
endif()

set(IMEX_SDK_LIB_DIR ${PROJECT_BINARY_DIR}/sdk/lib)
set(IMEX_CONSUMER_DEF ${IMEX_SDK_LIB_DIR}/imex.def)
set(IMEX_MINGW_IMPORT_LIB ${IMEX_SDK_LIB_DIR}/libimex.dll.a)
set(IMEX_MSVC_IMPORT_LIB ${IMEX_SDK_LIB_DIR}/imex.lib)
file(GENERATE OUTPUT ${IMEX_CONSUMER_DEF}
     CONTENT "LIBRARY $<TARGET_FILE_NAME:imex>\nEXPORTS\n${imex_consumer_exports}")

find_program(IMEX_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
# Run in the output folder: dlltool names the archive's members after the
# library's path.
add_custom_command(
  OUTPUT ${IMEX_MINGW_IMPORT_LIB} ${IMEX_MSVC_IMPORT_LIB}
  COMMAND ${CMAKE_DLLTOOL} --deterministic-libraries -k -d imex.def -l libimex.dll.a
  COMMAND ${IMEX_LLVM_DLLTOOL} -m ${IMEX_LLVM_MACHINE} -k -d imex.def -l imex.lib
  WORKING_DIRECTORY ${IMEX_SDK_LIB_DIR}
  DEPENDS ${IMEX_CONSUMER_DEF}
  COMMENT "Import libraries of imex.dll: libimex.dll.a (mingw), imex.lib (MSVC)")
add_custom_target(imex_import_libraries ALL DEPENDS ${IMEX_MINGW_IMPORT_LIB} ${IMEX_MSVC_IMPORT_LIB})

# `cmake --install` fills the build's own install/ unless told otherwise.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX ${PROJECT_BINARY_DIR}/install CACHE PATH "Where cmake --install puts the SDK" FORCE)
endif()

# bin/imex.dll stripped, its debug information beside it in imex.dll.debug
# (found through the DLL's .gnu_debuglink). Both are made from the built DLL,
# so installing twice never strips a stripped copy; their PE time stamp is 0,
# as the linked DLL's.
install(CODE "set(IMEX_OBJCOPY [[${CMAKE_OBJCOPY}]])\nset(IMEX_BUILT_DLL [[$<TARGET_FILE:imex>]])")
install(CODE [[
  set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
  message(STATUS "Installing: ${bin}/imex.dll, stripped, and imex.dll.debug")
  file(MAKE_DIRECTORY ${bin})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                          ${IMEX_OBJCOPY} --only-keep-debug ${IMEX_BUILT_DLL} imex.dll.debug
                  COMMAND_ERROR_IS_FATAL ANY WORKING_DIRECTORY ${bin})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                          ${IMEX_OBJCOPY} --strip-all --add-gnu-debuglink=imex.dll.debug ${IMEX_BUILT_DLL} imex.dll
                  COMMAND_ERROR_IS_FATAL ANY WORKING_DIRECTORY ${bin})
  file(CHMOD ${bin}/imex.dll PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                         WORLD_READ WORLD_EXECUTE)
  file(CHMOD ${bin}/imex.dll.debug PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${bin}/imex.dll ${bin}/imex.dll.debug)
]])
install(FILES ${PROJECT_SOURCE_DIR}/include/imex.h ${PROJECT_BINARY_DIR}/include/imex_version.h
        DESTINATION include)
install(FILES ${IMEX_MINGW_IMPORT_LIB} ${IMEX_MSVC_IMPORT_LIB} ${IMEX_CONSUMER_DEF} DESTINATION lib)

include(CMakePackageConfigHelpers)
# A 32-bit host project does not take the 64-bit package, nor the reverse.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/imexConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/imexConfig.cmake ${PROJECT_BINARY_DIR}/imexConfigVersion.cmake
        DESTINATION lib/cmake/imex)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/host-integration.md ${PROJECT_SOURCE_DIR}/docs/record-file.md
              ${PROJECT_SOURCE_DIR}/docs/check-on-windows.md
        DESTINATION docs)
# The check a host developer runs on their own Windows (docs/check-on-windows.md)
# and the two programs it drives; it finds ../bin/imex.dll itself.
# Stripped, and without a link time, like the DLL: the ZIP stays small and
# the same sources give the same bytes.
set(imex_release_tools imexcheck imexhost pdasim)
foreach(tool IN LISTS imex_release_tools)
  target_link_options(${tool} PRIVATE -Wl,--no-insert-timestamp)
endforeach()
install(TARGETS ${imex_release_tools} RUNTIME DESTINATION tools)
# Everything the release ZIP holds, built: what scripts/release.sh and
# scripts/reproducible.sh build before cpack packs it.
add_custom_target(imex_release DEPENDS imex imex_import_libraries ${imex_release_tools})
install(CODE "set(IMEX_OBJCOPY [[${CMAKE_OBJCOPY}]])\nset(IMEX_RELEASE_TOOLS [[${imex_release_tools}]])")
install(CODE [[
  foreach(tool IN LISTS IMEX_RELEASE_TOOLS)
    # objcopy stamps a PE image with the time unless SOURCE_DATE_EPOCH says otherwise.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                            ${IMEX_OBJCOPY} --strip-all "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/tools/${tool}.exe"
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
]])

# The release ZIP: the installed tree under imex-<version>-win32/ (or win64)
# with SHA256SUMS of every file, in this build's folder.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME imex)
set(CPACK_PACKAGE_VENDOR "the imex authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME ${IMEX_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_FILE_NAME imex-${PROJECT_VERSION}-${IMEX_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/ImexPackageTime.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ImexPackageSums.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/ImexPackageZip.cmake)
set(CPACK_IMEX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
