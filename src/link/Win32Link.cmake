# The Win32 serial port and the request exchange over it.
add_library(imex_link_win32 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FramedPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialLink.cpp
)
target_include_directories(imex_link_win32 PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(imex_link_win32 PUBLIC imex_link)
