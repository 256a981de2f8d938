# Run by CPack after staging and before packing: compresses every staged man page and changelog
# with gzip -9n (no name or time stamp inside, so the package stays reproducible), as Debian
# keeps them.
file(GLOB_RECURSE staged LIST_DIRECTORIES false ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
list(FILTER staged INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$|/share/doc/[^/]+/changelog$")
foreach(file ${staged})
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
endforeach()
