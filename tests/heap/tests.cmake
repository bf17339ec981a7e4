# SPDX-License-Identifier: GPL-3.0-or-later
# mivo's own code allocates nothing on the heap.

# Every object of src/, main included, is free of calls that allocate.
add_test(NAME no_heap_allocation_symbols
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-no-heap-symbols.sh ${CMAKE_NM}
    $<TARGET_FILE:mivo_lib> $<TARGET_OBJECTS:mivo>)

# The count at run time: mivo's code goes into a shared library of its own, so
# that the test's counting malloc and operator new can tell mivo's calls from
# everyone else's by the caller's address. The sanitizers bring an allocator of
# their own, so this runs in the plain build only.
if(NOT MIVO_SANITIZE)
  add_library(mivo_heap_probe SHARED ${MIVO_LIB_SOURCES})
  target_include_directories(mivo_heap_probe PUBLIC $<TARGET_PROPERTY:mivo_lib,INCLUDE_DIRECTORIES>)
  target_compile_options(mivo_heap_probe PUBLIC $<TARGET_PROPERTY:mivo_lib,COMPILE_OPTIONS>)
  target_include_directories(mivo_heap_probe PRIVATE ${JSMN_INCLUDE_DIR})
  target_link_libraries(mivo_heap_probe PUBLIC PkgConfig::NCURSESW PkgConfig::SNDFILE PkgConfig::FLAC
                                              PkgConfig::WAVPACK Threads::Threads
                                              PkgConfig::CDIO PkgConfig::SYSTEMD
                                              PkgConfig::COVER_IMAGES ${CMAKE_DL_LIBS}
                                              mivo_flags)
  add_executable(heap_tests ${CMAKE_CURRENT_LIST_DIR}/heap_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/support/fake_sdl.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support/test_screen.cpp)
  target_include_directories(heap_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support)
  target_link_libraries(heap_tests PRIVATE mivo_heap_probe GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
  gtest_discover_tests(heap_tests DISCOVERY_MODE PRE_TEST)
endif()
