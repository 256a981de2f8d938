# Installation. Components: Runtime for the tool and its documents, Library for the shared
# library, Development for the headers, the static archive, the .so link, the pkg-config file and
# the CMake package (find_package(SarnRuntimeBundle)); the Debian packages follow that split.
# InstalledGuide is the library's guide and examples as `make install` places them; the packages
# place them themselves (cmake/Package.cmake). The man page and the shell completions are
# installed by packaging/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SRB_PACKAGE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SarnRuntimeBundle)

install(TARGETS sarn-runtime-bundle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES docs/bundle-format.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
install(FILES docs/library.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT InstalledGuide)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT InstalledGuide)

# Installed names say whose they are. The archive needs BLAKE3 beside it, as its own archive;
# the shared library carries it inside.
set_target_properties(srb_shared PROPERTIES OUTPUT_NAME sarn-runtime-bundle
                                            EXPORT_NAME SarnRuntimeBundle)
set_target_properties(srb_static PROPERTIES OUTPUT_NAME sarn-runtime-bundle EXPORT_NAME Static)
set_target_properties(blake3 PROPERTIES OUTPUT_NAME sarn_runtime_bundle_blake3 EXPORT_NAME Blake3)
target_include_directories(srb_shared INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(srb_static INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# The C++ headers are C++17 and ask no more of a consumer; the C header asks nothing, and a C
# program's compile line gets no C++ flag from this.
target_compile_features(srb_shared INTERFACE cxx_std_17)
target_compile_features(srb_static INTERFACE cxx_std_17)

install(TARGETS srb_shared EXPORT SarnRuntimeBundleTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Library
                NAMELINK_COMPONENT Development)
install(TARGETS srb_static blake3 EXPORT SarnRuntimeBundleTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
# Only the public headers: they include nothing of src/.
install(DIRECTORY include/sarn_runtime_bundle DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT Development FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")

# The pkg-config file finds the prefix from its own place, so a tree installed with
# `cmake --install --prefix` anywhere (or staged with DESTDIR) works as it lies.
file(RELATIVE_PATH SRB_PC_TO_PREFIX /srb-prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /srb-prefix)
string(REGEX REPLACE "/$" "" SRB_PC_TO_PREFIX "${SRB_PC_TO_PREFIX}")
# `pkg-config --static` links the archive with what the CMake target names for it.
list(TRANSFORM SRB_STATIC_RUNTIME_LIBS PREPEND -l OUTPUT_VARIABLE SRB_PC_LIBS_PRIVATE)
list(JOIN SRB_PC_LIBS_PRIVATE " " SRB_PC_LIBS_PRIVATE)
configure_file(cmake/sarn-runtime-bundle.pc.in ${PROJECT_BINARY_DIR}/sarn-runtime-bundle.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/sarn-runtime-bundle.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
# The library's manual page, written by hand: the library has no command tree to generate it from.
install(FILES packaging/sarn_runtime_bundle.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
        COMPONENT Development)

install(EXPORT SarnRuntimeBundleTargets NAMESPACE SarnRuntimeBundle::
        DESTINATION ${SRB_PACKAGE_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(cmake/SarnRuntimeBundleConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfig.cmake INSTALL_DESTINATION ${SRB_PACKAGE_CMAKE_DIR})
# The major version is the SONAME's: within it the ABI only grows (docs/library.md), so a program
# asking for 1.0 takes any 1.x, and never 2.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfig.cmake
              ${PROJECT_BINARY_DIR}/SarnRuntimeBundleConfigVersion.cmake
        DESTINATION ${SRB_PACKAGE_CMAKE_DIR} COMPONENT Development)
