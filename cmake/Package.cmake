# `make package`: Debian packages made by CPack from the install rules, one per component:
# sarn-runtime-bundle (the tool, its man page and completions), libsarn-runtime-bundle1 (the
# shared library) and libsarn-runtime-bundle-dev (headers, static archive, pkg-config file and
# CMake package). Dependencies on shared libraries are read from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sarn-runtime-bundle)
set(CPACK_PACKAGE_VENDOR "sarn-runtime-bundle developers")
set(CPACK_PACKAGE_CONTACT "sarn-runtime-bundle developers <sarn-runtime-bundle@invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL Runtime Library Development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The three are built from one source, as Debian names it in each package; the changelog each
# carries is that source's, and its entries name it.
set(CPACK_DEBIAN_PACKAGE_SOURCE sarn-runtime-bundle)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME sarn-runtime-bundle)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
# Depends: libc6 from the binary's shared libraries, and libssl3 named here: libcrypto.so.3 is
# loaded when a key or a signature needs it, so dpkg-shlibdeps does not see it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libssl3 (>= 3.0.0)")
# Installed binaries are stripped in the packages, as Debian ships them; the Release build has
# no debug information to put in a separate debug-symbols package.
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "build, verify and locate Sarn runtime bundles
sarn-runtime-bundle copies a host's dynamic loader and core C-runtime
libraries into a content-addressed bundle directory with a BLAKE3 manifest
and an optional Ed25519 signature, verifies such bundles, and locates
installed ones.")

# The shared library in a package named after its SONAME, with a shlibs file (and the ldconfig
# trigger) so that programs built against it depend on it correctly.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libsarn-runtime-bundle${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libssl3 (>= 3.0.0)")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# And a symbols file, which names each function with its version node and the release that added
# it, so that a program depends on the oldest release that has every function it calls. Packing
# fails when the library exports a symbol the file does not list, or lacks one it lists
# (CheckDebianSymbols.cmake).
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/symbols)
set(CPACK_SRB_SYMBOLS_FILE ${PROJECT_SOURCE_DIR}/packaging/symbols)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "library to build and verify Sarn runtime bundles
The shared library of sarn-runtime-bundle, with a C and a C++ interface: build,
verify and locate runtime bundles from a program of one's own.")

# The static archive links nothing of OpenSSL (it loads libcrypto.so.3 as the shared library
# does), so libssl3 comes with the shared library package and no OpenSSL development files are
# needed. Its C++ objects need the development files of the C++ runtime they were compiled
# against (libstdc++.so or .a for -lstdc++; they bring libc6-dev), whatever language the program
# that links them is written in.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  string(REGEX MATCH "^[0-9]+" SRB_GCC_MAJOR ${CMAKE_CXX_COMPILER_VERSION})
  set(SRB_CXX_RUNTIME_DEV libstdc++-${SRB_GCC_MAJOR}-dev)
else()
  set(SRB_CXX_RUNTIME_DEV libstdc++-dev)
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libsarn-runtime-bundle-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libsarn-runtime-bundle${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), ${SRB_CXX_RUNTIME_DEV}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "library to build and verify Sarn runtime bundles (development files)
Headers for C and C++17, the static archive, a pkg-config file and a CMake
package of sarn-runtime-bundle's library: build, verify and locate runtime
bundles from a program of one's own. The guide to the library (ABI, threads,
ownership, errors) and example programs are in
/usr/share/doc/libsarn-runtime-bundle-dev/.")

# Debian wants the licence and the changelog of every package in /usr/share/doc/<package>/; the
# changelog is compressed with the man page below. lintian's overrides say why each is there.
# The changelog and the overrides belong to the packages alone: CPack installs each component
# by name, which includes them, while `make install` leaves them out. Of the licence, `make
# install` keeps the tool's copy, which covers the library it installs as well.
function(srb_debian_package_documents component package)
  set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${package})
  if(NOT package STREQUAL PROJECT_NAME)
    set(package_only EXCLUDE_FROM_ALL)
  endif()
  install(FILES packaging/copyright DESTINATION ${docdir} COMPONENT ${component} ${package_only})
  install(FILES packaging/changelog DESTINATION ${docdir} COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME ${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()
srb_debian_package_documents(Runtime sarn-runtime-bundle)
srb_debian_package_documents(Library libsarn-runtime-bundle${PROJECT_VERSION_MAJOR})
srb_debian_package_documents(Development libsarn-runtime-bundle-dev)
# The library's guide and the example programs, beside the development files; `make install`
# puts them beside the tool's documents instead (cmake/Install.cmake).
install(FILES docs/library.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libsarn-runtime-bundle-dev
        COMPONENT Development EXCLUDE_FROM_ALL)
install(DIRECTORY examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/libsarn-runtime-bundle-dev/examples
        COMPONENT Development EXCLUDE_FROM_ALL)

# Debian keeps man pages and changelogs gzip-compressed; the staged ones are compressed before
# packing.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/CompressDebianDocs.cmake
                            ${CMAKE_CURRENT_LIST_DIR}/CheckDebianSymbols.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianLdconfigTrigger.cmake)
include(CPack)
