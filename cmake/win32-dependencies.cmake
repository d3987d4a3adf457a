# The libraries of the Windows cross build, which Debian ships only as sources or headers:
#   fmt      - Debian's source package (MARLOWICK_FMT_SOURCE), or header-only from libfmt-dev's
#              headers;
#   GTest    - built from Debian's googletest sources in /usr/src/googletest;
#   OpenSSL  - a static build for MinGW from Debian's source package (MARLOWICK_OPENSSL_PREFIX);
#   JSON     - header-only, nlohmann-json3-dev's headers.

# fmt: compiled once from Debian's source package when MARLOWICK_FMT_SOURCE names it (scripts/
# windows.sh fetches it with apt-get source); otherwise header-only from libfmt-dev's headers,
# which works as well but compiles fmt's implementation into every file that formats.
set(MARLOWICK_FMT_SOURCE "" CACHE PATH "fmt's source folder (apt-get source libfmt-dev)")
if(EXISTS "${MARLOWICK_FMT_SOURCE}/src/format.cc")
  add_library(fmt_win32 STATIC "${MARLOWICK_FMT_SOURCE}/src/format.cc"
                               "${MARLOWICK_FMT_SOURCE}/src/os.cc")
  set_property(TARGET fmt_win32 PROPERTY COMPILE_OPTIONS -w)
  target_include_directories(fmt_win32 SYSTEM PUBLIC "${MARLOWICK_FMT_SOURCE}/include")
  add_library(fmt::fmt ALIAS fmt_win32)
else()
  # Only fmt's own headers, not the rest of the build machine's /usr/include.
  set(MARLOWICK_FMT_HEADERS /usr/include/fmt CACHE PATH "fmt's header folder (libfmt-dev)")
  if(NOT EXISTS "${MARLOWICK_FMT_HEADERS}/format.h")
    message(FATAL_ERROR "fmt headers not found in ${MARLOWICK_FMT_HEADERS} (libfmt-dev)")
  endif()
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/fmt-include")
  file(CREATE_LINK "${MARLOWICK_FMT_HEADERS}" "${CMAKE_BINARY_DIR}/fmt-include/fmt" SYMBOLIC)
  add_library(fmt_header_only INTERFACE)
  target_include_directories(fmt_header_only SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/fmt-include")
  target_compile_definitions(fmt_header_only INTERFACE FMT_HEADER_ONLY)
  add_library(fmt::fmt ALIAS fmt_header_only)
endif()

# OpenSSL: scripts/windows.sh cross-builds Debian's source package into this prefix (lib/libssl.a,
# lib/libcrypto.a, include/openssl). FindOpenSSL then makes OpenSSL::SSL and OpenSSL::Crypto from
# it, here at the top so that every later find_package(OpenSSL) reuses them.
set(MARLOWICK_OPENSSL_PREFIX "" CACHE PATH "OpenSSL built for MinGW (scripts/windows.sh)")
if(NOT EXISTS "${MARLOWICK_OPENSSL_PREFIX}/lib/libssl.a")
  message(FATAL_ERROR "no OpenSSL for MinGW in '${MARLOWICK_OPENSSL_PREFIX}': set "
                      "MARLOWICK_OPENSSL_PREFIX to the prefix scripts/windows.sh builds")
endif()
set(OPENSSL_ROOT_DIR "${MARLOWICK_OPENSSL_PREFIX}")
set(OPENSSL_USE_STATIC_LIBS TRUE)
# The toolchain file lets find_library look below the MinGW root only; the prefix is another.
list(APPEND CMAKE_FIND_ROOT_PATH "${MARLOWICK_OPENSSL_PREFIX}")
find_package(OpenSSL 3.0 REQUIRED)
# FindOpenSSL adds ws2_32 and crypt32 for a static OpenSSL; libcrypto also calls advapi32
# (CryptGenRandom for its seed, the event log) and user32 (its service check).
set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES advapi32 user32)

# googletest's CMake project makes GTest::gtest and GTest::gtest_main.
macro(marlowick_add_googletest)
  set(MARLOWICK_GOOGLETEST_SOURCE /usr/src/googletest/googletest CACHE PATH "googletest sources")
  get_directory_property(saved_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory("${MARLOWICK_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${saved_options}")
endmacro()

# nlohmann's JSON, header-only: only its own headers, not the rest of the build machine's
# /usr/include, which holds the build machine's C library.
set(MARLOWICK_JSON_HEADERS /usr/include/nlohmann CACHE PATH "nlohmann's JSON headers (nlohmann-json3-dev)")
if(NOT EXISTS "${MARLOWICK_JSON_HEADERS}/json.hpp")
  message(FATAL_ERROR "nlohmann JSON headers not found in ${MARLOWICK_JSON_HEADERS} (nlohmann-json3-dev)")
endif()
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/json-include")
file(CREATE_LINK "${MARLOWICK_JSON_HEADERS}" "${CMAKE_BINARY_DIR}/json-include/nlohmann" SYMBOLIC)
add_library(nlohmann_json_headers INTERFACE)
target_include_directories(nlohmann_json_headers SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/json-include")
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json_headers)
