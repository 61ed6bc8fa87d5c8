# CPack runs this after packing. It packs in the order the file system lists
# the staged files, which differs between machines; the ZIP is written again
# with its entries sorted by name, every time SOURCE_DATE_EPOCH (in UTC) and
# no extra fields, so one commit gives the same archive everywhere.
find_program(IMEX_ZIP zip REQUIRED)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${CPACK_TOPLEVEL_DIRECTORY}
     ${CPACK_TEMPORARY_DIRECTORY}/*)
list(SORT files)
string(REPLACE ";" "\n" listing "${files}")
file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/imex-package-files.txt "${listing}\n")
foreach(file IN LISTS files)
  execute_process(COMMAND touch -d @$ENV{SOURCE_DATE_EPOCH} ${CPACK_TOPLEVEL_DIRECTORY}/${file}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE ${package})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0 ${IMEX_ZIP} -X -D -9 -q ${package} -@
                  INPUT_FILE ${CPACK_TOPLEVEL_DIRECTORY}/imex-package-files.txt
                  WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
