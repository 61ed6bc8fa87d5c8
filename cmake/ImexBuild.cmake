# What every build settles before its targets exist: the version header that
# include/imex.h and the version resource read, and the oldest Windows
# imex.dll supports.

# The oldest Windows the DLL runs on. _WIN32_WINNT hides newer declarations
# in the headers; the sdk.windows_floor test holds every import to it.
set(IMEX_OLDEST_WINDOWS "Windows Vista")
set(IMEX_OLDEST_WINNT 0x0600)

configure_file(${CMAKE_CURRENT_LIST_DIR}/imex_version.h.in ${PROJECT_BINARY_DIR}/include/imex_version.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/include)
