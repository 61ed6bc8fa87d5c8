# What every build settles before its targets exist: the version header that
# include/imex.h and the version resource read, the oldest Windows imex.dll
# supports, and build folders kept out of the Windows binaries.

# The oldest Windows the DLL runs on. _WIN32_WINNT hides newer declarations
# in the headers; the sdk.windows_floor test holds every import to it.
set(IMEX_OLDEST_WINDOWS "Windows Vista")
set(IMEX_OLDEST_WINNT 0x0600)

configure_file(${CMAKE_CURRENT_LIST_DIR}/imex_version.h.in ${PROJECT_BINARY_DIR}/include/imex_version.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/include)

if(WIN32)
  # Builds of the same sources in other folders give the same bytes: no
  # absolute path reaches the debug information or a __FILE__ string. The
  # later option is looked at first, and the build folder may lie inside
  # the source folder.
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=imex
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=imex-build)
endif()
