# The real-drive source, run on BIN/CUE images written at test time.
add_executable(cdio_source_tests ${CMAKE_CURRENT_LIST_DIR}/cdio_source_test.cpp
                                 ${CMAKE_CURRENT_SOURCE_DIR}/support/bin_cue_image.cpp)
target_link_libraries(cdio_source_tests PRIVATE mivo_test_support GTest::gtest_main)
gtest_discover_tests(cdio_source_tests DISCOVERY_MODE PRE_TEST)
