# Compiler settings shared by every target of ours, and helpers to declare tests.

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

if(CORVEXIS_SANITIZE)
  string(REPLACE "," ";" _sanitizers "${CORVEXIS_SANITIZE}")
  foreach(_s IN LISTS _sanitizers)
    if(NOT _s MATCHES "^(address|undefined|thread)$")
      message(FATAL_ERROR "Unknown sanitizer '${_s}' in CORVEXIS_SANITIZE")
    endif()
  endforeach()
  # Applied globally so that every library, test and the host application agree on the runtime.
  add_compile_options(-fsanitize=${CORVEXIS_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${CORVEXIS_SANITIZE})
  if(CORVEXIS_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Fuzzing builds (scripts/fuzz.sh, clang only) instrument every library for libFuzzer's coverage.
option(CORVEXIS_FUZZ "Build the libFuzzer targets (clang)" OFF)
# The coverage instrumentation keeps clang from vectorising the loops marked 'omp simd'; it reports
# that as a warning, which is expected there and must not fail the build.
if(CORVEXIS_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link -Wno-pass-failed)
endif()

# Warnings as errors on our own code only; third-party headers come in as system headers.
function(corvexis_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
  # GCC 12 at -O2/-O3 reports overlapping copies inside std::string concatenation that cannot happen
  # (GCC bug 105329, fixed in GCC 13), so that warning is off there.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/Source>)
endfunction()

# corvexis_add_library(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
function(corvexis_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  corvexis_target_defaults(${name})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN")
endfunction()

# corvexis_add_test(NAME SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; each test case becomes a ctest entry, discovered when ctest runs.
# Tests labelled 'concurrency' are also collected into the 'concurrency_tests' target, which the
# ThreadSanitizer job builds alone.
if(NOT TARGET concurrency_tests)
  add_custom_target(concurrency_tests)
endif()
function(corvexis_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  corvexis_target_defaults(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/Tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} CorvexisTestSupport GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN/../lib")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
  if("concurrency" IN_LIST ARG_LABELS)
    add_dependencies(concurrency_tests ${name})
  endif()
endfunction()

# corvexis_add_benchmark(NAME SOURCES ... LIBS ...): a program that prints FIGURE lines.
function(corvexis_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  corvexis_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN/../lib")
endfunction()
