# Installation: the tool, and the core as a static library with its headers and a CMake package
# (find_package(SarnRuntimeBundle) gives SarnRuntimeBundle::SarnRuntimeBundle). The man page
# and the shell completions are installed by packaging/. Components: Runtime for the tool and
# its documents, Development for the library; the Debian packages follow that split.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SRB_PACKAGE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SarnRuntimeBundle)
set(SRB_PUBLIC_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/sarn_runtime_bundle)

install(TARGETS sarn-runtime-bundle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES docs/bundle-format.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)

# Installed names say whose they are; BLAKE3 goes along because the library calls it.
set_target_properties(srb PROPERTIES OUTPUT_NAME sarn_runtime_bundle EXPORT_NAME SarnRuntimeBundle)
set_target_properties(blake3 PROPERTIES OUTPUT_NAME sarn_runtime_bundle_blake3)
# The public header includes the src/ headers by their paths below src/ ("core/result.hpp"), so
# they are installed in that layout below include/sarn_runtime_bundle/, which is on the
# consumer's include path beside include/.
target_include_directories(srb INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
                                         $<INSTALL_INTERFACE:${SRB_PUBLIC_INCLUDE_DIR}>)
install(TARGETS srb blake3 EXPORT SarnRuntimeBundleTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)

# The headers bundle.hpp reaches, found by following their #include "dir/name.hpp" lines, so a
# header that gains an include cannot be left out.
function(srb_header_closure header out_var)
  set(found "")
  set(pending ${header})
  while(pending)
    list(POP_FRONT pending current)
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${PROJECT_SOURCE_DIR}/src/${current})
    file(STRINGS ${PROJECT_SOURCE_DIR}/src/${current} lines REGEX "^#include \"[a-z0-9_]+/[a-z0-9_]+\\.hpp\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
      if(NOT included IN_LIST found)
        list(APPEND found ${included})
        list(APPEND pending ${included})
      endif()
    endforeach()
  endwhile()
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS include/sarn_runtime_bundle/bundle.hpp)
file(STRINGS include/sarn_runtime_bundle/bundle.hpp public_lines REGEX "^#include \"")
set(SRB_INSTALLED_HEADERS "")
foreach(line ${public_lines})
  string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
  srb_header_closure(${header} reached)
  list(APPEND SRB_INSTALLED_HEADERS ${header} ${reached})
endforeach()
list(REMOVE_DUPLICATES SRB_INSTALLED_HEADERS)
install(FILES include/sarn_runtime_bundle/bundle.hpp DESTINATION ${SRB_PUBLIC_INCLUDE_DIR}
        COMPONENT Development)
foreach(header ${SRB_INSTALLED_HEADERS})
  get_filename_component(subdir ${header} DIRECTORY)
  install(FILES src/${header} DESTINATION ${SRB_PUBLIC_INCLUDE_DIR}/${subdir} COMPONENT Development)
endforeach()

install(EXPORT SarnRuntimeBundleTargets NAMESPACE SarnRuntimeBundle::
        DESTINATION ${SRB_PACKAGE_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(cmake/SarnRuntimeBundleConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfig.cmake INSTALL_DESTINATION ${SRB_PACKAGE_CMAKE_DIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfig.cmake
              ${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfigVersion.cmake
        DESTINATION ${SRB_PACKAGE_CMAKE_DIR} COMPONENT Development)
