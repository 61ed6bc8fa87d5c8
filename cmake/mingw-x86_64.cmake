# Cross-build for 64-bit Windows with mingw-w64: the same sources as the
# i686 build, for 64-bit host programs and for machines that cannot run
# 32-bit code (wine64 runs these with nothing of i386 involved).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
