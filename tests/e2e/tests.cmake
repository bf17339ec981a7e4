# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end tests: the real mivo binary in a pseudo-terminal, read back
# through a terminal emulator, on the demo disc and on a stand-in drive.

# The stand-in drive takes the place of libSDL-1.2.so.0 through the library
# path, so it gets that file name in a directory of its own. It is never
# sanitized: it must load into any mivo, and it is test equipment, not mivo.
add_library(mivo_standin_drive SHARED ${CMAKE_CURRENT_LIST_DIR}/standin_drive.c)
set_target_properties(mivo_standin_drive PROPERTIES
  OUTPUT_NAME SDL-1.2
  SOVERSION 0
  C_STANDARD 11
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/e2e-standin)
target_include_directories(mivo_standin_drive PRIVATE ${SDL12_INCLUDE_DIRS})
target_compile_options(mivo_standin_drive PRIVATE ${SDL12_CFLAGS_OTHER})
target_link_libraries(mivo_standin_drive PRIVATE mivo_warnings ${CMAKE_DL_LIBS})

# Times the database's load and save on large files (scripts/bench.sh).
add_executable(mivo_db_bench ${CMAKE_CURRENT_LIST_DIR}/db_bench.cpp)
target_link_libraries(mivo_db_bench PRIVATE mivo_lib)
set_target_properties(mivo_db_bench PROPERTIES EXCLUDE_FROM_ALL ON)

# Times the digital backend against SDL's disk audio driver (scripts/bench.sh).
add_executable(mivo_digital_bench ${CMAKE_CURRENT_LIST_DIR}/digital_bench.cpp)
target_link_libraries(mivo_digital_bench PRIVATE mivo_lib PkgConfig::SDL12)
set_target_properties(mivo_digital_bench PROPERTIES EXCLUDE_FROM_ALL ON)

# The cost of waking twice a second and nothing else (sink_bench.py).
add_executable(mivo_wake_floor ${CMAKE_CURRENT_LIST_DIR}/wake_floor.c)
set_target_properties(mivo_wake_floor PROPERTIES C_STANDARD 11 EXCLUDE_FROM_ALL ON)
target_link_libraries(mivo_wake_floor PRIVATE mivo_warnings)

# Figures for a drive read through libcdio and paranoia (scripts/bench.sh).
add_executable(mivo_cdio_bench ${CMAKE_CURRENT_LIST_DIR}/cdio_bench.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/../support/bin_cue_image.cpp)
target_include_directories(mivo_cdio_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../support)
target_link_libraries(mivo_cdio_bench PRIVATE mivo_lib PkgConfig::SDL12)
set_target_properties(mivo_cdio_bench PROPERTIES EXCLUDE_FROM_ALL ON)

# Preloaded into the real mivo to stall a drive's read, and to time the main
# loop's turns meanwhile (the cdio_drive scenarios, cdio_stall_bench.py). Test
# equipment like the stand-in drive, so never sanitized.
add_library(mivo_stall_shim SHARED ${CMAKE_CURRENT_LIST_DIR}/stall_shim.c)
set_target_properties(mivo_stall_shim PROPERTIES C_STANDARD 11)
target_link_libraries(mivo_stall_shim PRIVATE mivo_warnings ${CMAKE_DL_LIBS})


# The scenarios need python 3 and its terminal emulator pyte (python3-pyte).
option(MIVO_E2E "Run the end-to-end tests (python3 and python3-pyte)" ON)
if(NOT MIVO_E2E)
  return()
endif()
# Debian's python3-pyte serves the system's python3, which an interpreter found
# first on the path (pyenv, a virtual environment) may lack.
find_package(Python3 COMPONENTS Interpreter)
find_program(MIVO_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
unset(MIVO_E2E_PYTHON)
foreach(python ${Python3_EXECUTABLE} ${MIVO_SYSTEM_PYTHON3})
  execute_process(COMMAND ${python} -c "import pyte"
                  RESULT_VARIABLE pyte_missing OUTPUT_QUIET ERROR_QUIET)
  if(NOT pyte_missing)
    set(MIVO_E2E_PYTHON ${python})
    break()
  endif()
endforeach()
if(NOT MIVO_E2E_PYTHON)
  message(STATUS "python3 with its module pyte is missing, so the end-to-end tests are "
                 "skipped: scripts/setup-tests.sh installs them (python3-pyte)")
  return()
endif()

set(MIVO_E2E_DEMO_DISC ${CMAKE_BINARY_DIR}/demo-disc)
set(MIVO_E2E_RUN ${MIVO_E2E_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/run.py
  --mivo $<TARGET_FILE:mivo>
  --standin-dir $<TARGET_FILE_DIR:mivo_standin_drive>
  --stall-shim $<TARGET_FILE:mivo_stall_shim>
  --demo-disc ${MIVO_E2E_DEMO_DISC})

add_test(NAME e2e.demo_disc_setup
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-demo-disc.sh ${MIVO_E2E_DEMO_DISC})
set_tests_properties(e2e.demo_disc_setup PROPERTIES FIXTURES_SETUP mivo_demo_disc)

# One ctest entry per group of scenarios; run.py lists them.
foreach(group lifecycle startup_failures hangup session disc_changes volume
    screen resize dialog editor suspend demo_disc digital_sdl digital_compat cdio_drive)
  add_test(NAME e2e.${group} COMMAND ${MIVO_E2E_RUN} ${group})
  set_tests_properties(e2e.${group} PROPERTIES TIMEOUT 240 LABELS e2e)
endforeach()
set_tests_properties(e2e.demo_disc PROPERTIES FIXTURES_REQUIRED mivo_demo_disc)
# Title lookups, against the stand-in server tests/lookup/lookup_server.py.
add_test(NAME e2e.lookup COMMAND ${MIVO_E2E_RUN} lookup)
set_tests_properties(e2e.lookup PROPERTIES TIMEOUT 240 LABELS e2e)

# The desktop's remote control, each scenario on a session bus of its own.
foreach(group mpris covers)
  add_test(NAME e2e.${group} COMMAND ${MIVO_E2E_RUN} ${group})
  set_tests_properties(e2e.${group} PROPERTIES TIMEOUT 240 LABELS e2e)
endforeach()

add_test(NAME e2e.stress COMMAND ${MIVO_E2E_RUN} --stress-seconds 60 --seed 1234 stress)
set_tests_properties(e2e.stress PROPERTIES TIMEOUT 300 LABELS e2e)
