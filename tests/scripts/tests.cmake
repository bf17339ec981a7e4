# The shell scripts pass shellcheck.
add_test(NAME shell_scripts_lint COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-shell.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(shell_scripts_lint PROPERTIES SKIP_RETURN_CODE 77)
