# Run by CPack after staging and before packing: compresses every staged man page with gzip -9n
# (no name or time stamp inside, so the package stays reproducible), as Debian keeps them.
file(GLOB_RECURSE staged LIST_DIRECTORIES false ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
list(FILTER staged INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$")
foreach(page ${staged})
  execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()
