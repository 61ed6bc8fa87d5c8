# CPack runs this after staging the package's files: SHA256SUMS lists every
# file's SHA-256 in the form `sha256sum -c` reads, paths sorted.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${CPACK_TEMPORARY_DIRECTORY}/${file} sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE ${CPACK_TEMPORARY_DIRECTORY}/SHA256SUMS "${sums}")
file(CHMOD ${CPACK_TEMPORARY_DIRECTORY}/SHA256SUMS PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
