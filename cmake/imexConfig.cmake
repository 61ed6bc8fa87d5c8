# find_package(imex) in a host project gives the imported target imex::imex:
# bin/imex.dll, the import library for the host's toolchain (libimex.dll.a
# for mingw, imex.lib otherwise) and include/, where imex.h is.
get_filename_component(_imex_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET imex::imex)
  if(MINGW)
    set(_imex_import_lib libimex.dll.a)
  else()
    set(_imex_import_lib imex.lib)
  endif()
  add_library(imex::imex SHARED IMPORTED)
  set_target_properties(imex::imex PROPERTIES
    IMPORTED_LOCATION "${_imex_prefix}/bin/imex.dll"
    IMPORTED_IMPLIB "${_imex_prefix}/lib/${_imex_import_lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_imex_prefix}/include")
  unset(_imex_import_lib)
endif()

unset(_imex_prefix)
