# SPDX-License-Identifier: GPL-3.0-or-later
# The loader's fuzz target. The standalone driver feeds it a fixed-seed corpus
# and runs with whatever compiler and sanitizers the build uses; when clang's
# libFuzzer is at hand, a libFuzzer binary of the same target is built beside
# it with AddressSanitizer and UndefinedBehaviorSanitizer. ctest runs both
# briefly; see the fuzz source for longer runs.
set(fuzz_dir ${CMAKE_CURRENT_SOURCE_DIR}/database/fuzz)
set(fuzz_seeds ${CMAKE_CURRENT_SOURCE_DIR}/data/xmcd)

add_executable(database_fuzz_driver ${fuzz_dir}/load_database_fuzz.cpp
                                    ${fuzz_dir}/standalone_driver.cpp)
target_link_libraries(database_fuzz_driver PRIVATE mivo_lib)
add_test(NAME database_fuzz_short COMMAND database_fuzz_driver 10000 ${fuzz_seeds})

find_program(MIVO_CLANGXX NAMES clang++ clang++-14)
if(MIVO_CLANGXX)
  set(libfuzzer_sources ${fuzz_dir}/load_database_fuzz.cpp
                        ${PROJECT_SOURCE_DIR}/src/database/database.cpp
                        ${PROJECT_SOURCE_DIR}/src/database/disc_id.cpp)
  set(libfuzzer_includes ${PROJECT_SOURCE_DIR}/src ${SDL12_INCLUDE_DIRS})
  list(TRANSFORM libfuzzer_includes PREPEND -I)
  list(APPEND libfuzzer_includes -I${PROJECT_BINARY_DIR}/generated ${SDL12_CFLAGS_OTHER})
  set(libfuzzer_bin ${CMAKE_CURRENT_BINARY_DIR}/database_libfuzzer)
  add_custom_command(OUTPUT ${libfuzzer_bin}
    COMMAND ${MIVO_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined ${libfuzzer_includes} ${libfuzzer_sources}
            -o ${libfuzzer_bin}
    DEPENDS ${libfuzzer_sources} ${PROJECT_SOURCE_DIR}/src/database/database.h
            ${PROJECT_SOURCE_DIR}/src/database/disc_id.h ${PROJECT_SOURCE_DIR}/src/database/disc_texts.h
    COMMENT "Building the loader's libFuzzer target with clang"
    VERBATIM)
  add_custom_target(database_libfuzzer ALL DEPENDS ${libfuzzer_bin})
  # New inputs go to a fresh directory of the build, never to the seeds.
  set(libfuzzer_corpus ${CMAKE_CURRENT_BINARY_DIR}/database-fuzz-corpus)
  add_test(NAME database_libfuzzer_short
    COMMAND sh -c "rm -rf \"$1\" && mkdir \"$1\" && exec \"$0\" -seed=1 -runs=10000 -max_len=4096 \"$1\" \"$2\""
            ${libfuzzer_bin} ${libfuzzer_corpus} ${fuzz_seeds})
endif()
