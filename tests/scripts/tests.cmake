# SPDX-License-Identifier: GPL-3.0-or-later
# The shell scripts pass shellcheck.
add_test(NAME shell_scripts_lint COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-shell.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(shell_scripts_lint PROPERTIES SKIP_RETURN_CODE 77)

# Every source and test file is named in the build's lists.
add_test(NAME source_lists COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-source-lists.sh ${PROJECT_SOURCE_DIR})
