# The digital backend's tests: its ring, its reader thread against a source
# made up in the test, and its output against the SDL double.
file(GLOB digital_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/digital/*.cpp)
add_executable(drive_digital_tests ${digital_sources})
target_link_libraries(drive_digital_tests PRIVATE mivo_test_support GTest::gtest_main)
gtest_discover_tests(drive_digital_tests DISCOVERY_MODE PRE_TEST)
