# SPDX-License-Identifier: GPL-3.0-or-later
# The fuzz target of what a rip brings besides its sheet's text (FILE names
# looked up on disk, file names put in order, tags, FLAC's CUESHEET block):
# the loader's standalone driver runs it briefly with any compiler, and with
# clang a libFuzzer binary is built beside it with AddressSanitizer and
# UndefinedBehaviorSanitizer. See the fuzz source for longer runs.
set(rip_fuzz_source ${CMAKE_CURRENT_SOURCE_DIR}/drive/digital/fuzz/rip_fuzz.cpp)
set(rip_fuzz_seeds ${CMAKE_CURRENT_SOURCE_DIR}/data/rip-fuzz)

add_executable(rip_fuzz_driver ${rip_fuzz_source}
                               ${CMAKE_CURRENT_SOURCE_DIR}/database/fuzz/standalone_driver.cpp)
target_link_libraries(rip_fuzz_driver PRIVATE mivo_lib)
add_test(NAME rip_fuzz_short COMMAND rip_fuzz_driver 20000 ${rip_fuzz_seeds})

if(MIVO_CLANGXX)
  set(rip_libfuzzer_sources ${rip_fuzz_source}
                            ${PROJECT_SOURCE_DIR}/src/drive/digital/cue_sheet.cpp
                            ${PROJECT_SOURCE_DIR}/src/drive/digital/rip.cpp
                            ${PROJECT_SOURCE_DIR}/src/drive/digital/sheet_files.cpp)
  set(rip_libfuzzer_bin ${CMAKE_CURRENT_BINARY_DIR}/rip_libfuzzer)
  add_custom_command(OUTPUT ${rip_libfuzzer_bin}
    COMMAND ${MIVO_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined -I${PROJECT_SOURCE_DIR}/src ${rip_libfuzzer_sources}
            ${FLAC_LDFLAGS} ${WAVPACK_LDFLAGS} -o ${rip_libfuzzer_bin}
    DEPENDS ${rip_libfuzzer_sources} ${PROJECT_SOURCE_DIR}/src/drive/digital/cue_sheet.h
            ${PROJECT_SOURCE_DIR}/src/drive/digital/rip.h
            ${PROJECT_SOURCE_DIR}/src/drive/digital/sheet_files.h
    COMMENT "Building the rip's libFuzzer target with clang"
    VERBATIM)
  add_custom_target(rip_libfuzzer_target ALL DEPENDS ${rip_libfuzzer_bin})
  set(rip_libfuzzer_corpus ${CMAKE_CURRENT_BINARY_DIR}/rip-fuzz-corpus)
  add_test(NAME rip_libfuzzer_short
    COMMAND sh -c "rm -rf \"$1\" && mkdir \"$1\" && exec \"$0\" -seed=1 -runs=20000 -max_len=2048 \"$1\" \"$2\""
            ${rip_libfuzzer_bin} ${rip_libfuzzer_corpus} ${rip_fuzz_seeds})
endif()
