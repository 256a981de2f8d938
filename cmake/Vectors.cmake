# The published test vectors (BLAKE3, RFC 8032, Wycheproof, toml-test, JSONTestSuite) are not part
# of this repository: they sit beside it, in ../shared/vectors. A clone made somewhere else, such
# as a scratch clone for a clean build, finds them beside the repository it was cloned from.
# -DSRB_VECTORS_DIR=... names them outright.
set(SRB_VECTORS_DIR "" CACHE PATH "Directory of the shared test vectors (default: found beside the repository)")

function(srb_find_vectors out)
  set(candidates "${PROJECT_SOURCE_DIR}/../shared/vectors")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" config --get remote.origin.url
                    OUTPUT_VARIABLE origin OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # Only a clone of a local directory has a "beside" to look in.
    string(REGEX REPLACE "^file://" "" origin "${origin}")
    if(origin MATCHES "^/")
      list(APPEND candidates "${origin}/../shared/vectors")
    endif()
  endif()
  foreach(candidate IN LISTS candidates)
    if(IS_DIRECTORY "${candidate}")
      get_filename_component(candidate "${candidate}" ABSOLUTE)
      set(${out} "${candidate}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(WARNING "the shared test vectors were not found (looked in: ${candidates}); the tests "
                  "that read them will fail. Pass -DSRB_VECTORS_DIR=/path/to/vectors.")
  set(${out} "${PROJECT_SOURCE_DIR}/../shared/vectors" PARENT_SCOPE)
endfunction()

if(SRB_VECTORS_DIR)
  set(SRB_VECTORS "${SRB_VECTORS_DIR}")
else()
  srb_find_vectors(SRB_VECTORS)
endif()
