# Run by CPack after staging and before packing: holds the staged shared library to the symbols
# file the library package ships (packaging/symbols). dpkg-gensymbols fails when the library
# exports a symbol the file does not list, under another version node, or lacks one it lists, so
# a function added without its entry, or moved out of the node it shipped in, stops the package.
file(GLOB_RECURSE libraries LIST_DIRECTORIES false
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/libsarn-runtime-bundle.so.*.*.*)
set(checked 0)
foreach(library ${libraries})
  if(IS_SYMLINK ${library})
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+$" version ${library})
  string(REGEX MATCH "^[0-9]+" major ${version})
  execute_process(
    COMMAND dpkg-gensymbols -plibsarn-runtime-bundle${major} -v${version} -e${library}
            -I${CPACK_SRB_SYMBOLS_FILE} -O${CPACK_TEMPORARY_DIRECTORY}/symbols.generated -c4
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${library} does not match ${CPACK_SRB_SYMBOLS_FILE}:\n${out}")
  endif()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no shared library staged below ${CPACK_TEMPORARY_INSTALL_DIRECTORY} to check")
endif()
