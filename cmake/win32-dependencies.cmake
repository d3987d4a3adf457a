# The libraries of the Windows cross build, which Debian ships only as sources or headers:
#   fmt      - Debian's source package (MARLOWICK_FMT_SOURCE), or header-only from libfmt-dev's
#              headers;
#   GTest    - built from Debian's googletest sources in /usr/src/googletest.

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
