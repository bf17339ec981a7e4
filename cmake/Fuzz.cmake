# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzz targets of the parsers of outside input. Each target is one source with
# LLVMFuzzerTestOneInput and the hints of tests/fuzz/fuzz_target.h, built two
# ways from mivo's own sources it names:
#
#   <name>_fuzz_driver  the standalone driver (tests/fuzz/standalone_driver.cpp),
#                       built with the build's own compiler and sanitizers: it
#                       replays the seeds and a fixed-seed stream of mutations,
#                       briefly in ctest as <name>_fuzz_short;
#   <name>_libfuzzer    with clang, a libFuzzer binary under AddressSanitizer
#                       and UndefinedBehaviorSanitizer in <build>/fuzz/, run
#                       briefly in ctest as <name>_libfuzzer_short and for as
#                       long as wanted by hand (README, "Fuzzing").
#
# mivo_add_fuzzer(NAME name TARGET source SOURCES mivo sources...
#                 SEEDS dirs... [INCLUDES dirs...] [RUNS n] [MAX_LEN n])

find_program(MIVO_CLANGXX NAMES clang++ clang++-14)
set(MIVO_FUZZ_DIR ${PROJECT_SOURCE_DIR}/tests/fuzz)
set(MIVO_FUZZ_BIN ${PROJECT_BINARY_DIR}/fuzz)

function(mivo_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;TARGET;RUNS;MAX_LEN" "SOURCES;SEEDS;INCLUDES" ${ARGN})
  if(NOT F_RUNS)
    set(F_RUNS 5000)
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 4096)
  endif()
  list(TRANSFORM F_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
  set(includes ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated ${MIVO_FUZZ_DIR}
               ${SDL12_INCLUDE_DIRS} ${F_INCLUDES})

  add_executable(${F_NAME}_fuzz_driver ${F_TARGET} ${MIVO_FUZZ_DIR}/standalone_driver.cpp
                                       ${F_SOURCES})
  target_include_directories(${F_NAME}_fuzz_driver PRIVATE ${includes})
  target_compile_options(${F_NAME}_fuzz_driver PRIVATE ${SDL12_CFLAGS_OTHER})
  target_link_libraries(${F_NAME}_fuzz_driver PRIVATE mivo_flags)
  add_test(NAME ${F_NAME}_fuzz_short COMMAND ${F_NAME}_fuzz_driver ${F_RUNS} ${F_SEEDS})

  if(NOT MIVO_CLANGXX)
    return()
  endif()
  list(TRANSFORM includes PREPEND -I OUTPUT_VARIABLE include_flags)
  # The binary lives in a directory of its own, never at the path of the
  # target's name: Ninja refuses two rules for one file.
  set(bin ${MIVO_FUZZ_BIN}/${F_NAME}_libfuzzer)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.h)
  add_custom_command(OUTPUT ${bin}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MIVO_FUZZ_BIN}
    COMMAND ${MIVO_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined ${include_flags} ${SDL12_CFLAGS_OTHER}
            ${F_TARGET} ${F_SOURCES} -o ${bin}
    DEPENDS ${F_TARGET} ${F_SOURCES} ${headers} ${MIVO_FUZZ_DIR}/fuzz_target.h
    COMMENT "Building the libFuzzer target ${F_NAME} with clang"
    VERBATIM)
  add_custom_target(${F_NAME}_libfuzzer ALL DEPENDS ${bin})
  # New inputs go to a fresh directory of the build, never to the seeds.
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}-fuzz-corpus)
  add_test(NAME ${F_NAME}_libfuzzer_short
    COMMAND sh -c "c=$1; shift; rm -rf \"$c\" && mkdir \"$c\" && \
exec \"$0\" -seed=1 -runs=${F_RUNS} -max_len=${F_MAX_LEN} -artifact_prefix=\"$c/\" \"$c\" \"$@\""
            ${bin} ${corpus} ${F_SEEDS})
endfunction()
