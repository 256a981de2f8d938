# Builds the official BLAKE3 C implementation that Debian ships with its Rust crate sources
# (package librust-blake3-dev). The SIMD back ends are chosen at run time by blake3_dispatch.c.
file(GLOB SRB_BLAKE3_DIRS LIST_DIRECTORIES true /usr/share/cargo/registry/blake3-*/c)
list(SORT SRB_BLAKE3_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET SRB_BLAKE3_DIRS 0 SRB_BLAKE3_DIR)
if(NOT SRB_BLAKE3_DIR OR NOT EXISTS "${SRB_BLAKE3_DIR}/blake3.h")
  message(FATAL_ERROR "BLAKE3 C sources not found under /usr/share/cargo/registry/blake3-*/c/: "
                      "install the Debian package librust-blake3-dev (scripts/install-deps does)")
endif()
message(STATUS "BLAKE3 sources: ${SRB_BLAKE3_DIR}")

set(SRB_BLAKE3_SOURCES ${SRB_BLAKE3_DIR}/blake3.c ${SRB_BLAKE3_DIR}/blake3_dispatch.c
                       ${SRB_BLAKE3_DIR}/blake3_portable.c)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  list(APPEND SRB_BLAKE3_SOURCES
    ${SRB_BLAKE3_DIR}/blake3_sse2_x86-64_unix.S ${SRB_BLAKE3_DIR}/blake3_sse41_x86-64_unix.S
    ${SRB_BLAKE3_DIR}/blake3_avx2_x86-64_unix.S ${SRB_BLAKE3_DIR}/blake3_avx512_x86-64_unix.S)
  set(SRB_BLAKE3_DEFINES "")
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  list(APPEND SRB_BLAKE3_SOURCES ${SRB_BLAKE3_DIR}/blake3_neon.c)
  set(SRB_BLAKE3_DEFINES BLAKE3_USE_NEON=1)
else()
  set(SRB_BLAKE3_DEFINES BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()

add_library(blake3 STATIC ${SRB_BLAKE3_SOURCES})
# Only for building: the library exported by the install rules keeps blake3.h to itself.
target_include_directories(blake3 SYSTEM PUBLIC $<BUILD_INTERFACE:${SRB_BLAKE3_DIR}>)
target_compile_definitions(blake3 PRIVATE ${SRB_BLAKE3_DEFINES})
set_target_properties(blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON C_STANDARD 99)
