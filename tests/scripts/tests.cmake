# SPDX-License-Identifier: GPL-3.0-or-later
# The shell scripts pass shellcheck.
add_test(NAME shell_scripts_lint COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-shell.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(shell_scripts_lint PROPERTIES SKIP_RETURN_CODE 77)

# Every source and test file is named in the build's lists.
add_test(NAME source_lists COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-source-lists.sh ${PROJECT_SOURCE_DIR})

# Builds the presets do not make: Ninja (with the tests' custom commands in
# the graph), and link-time optimisation with the one-definition rule checked
# across mivo's sources. Once per suite: the sanitized run leaves them out.
if(NOT MIVO_SANITIZE)
  set(other_builds ${CMAKE_CURRENT_BINARY_DIR}/other-builds)
  set(check_build ${CMAKE_CURRENT_LIST_DIR}/check-build.sh ${CMAKE_COMMAND} ${PROJECT_SOURCE_DIR})
  add_test(NAME build_ninja COMMAND ${check_build} ${other_builds}/ninja mivo
           -G Ninja -DMIVO_WERROR=ON)
  add_test(NAME build_lto_odr COMMAND ${check_build} ${other_builds}/lto mivo
           -DMIVO_TESTS=OFF -DMIVO_WERROR=ON "-DCMAKE_CXX_FLAGS=-flto=auto -Wodr -Werror")
  set_tests_properties(build_ninja build_lto_odr PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900
                                                           LABELS build)
  # That build has no tests, so none of their hooks either.
  set_tests_properties(build_lto_odr PROPERTIES FIXTURES_SETUP mivo_without_tests)
  add_test(NAME test_hooks_left_out
           COMMAND sh -c "! grep -q MIVO_TEST_ \"$0\"" ${other_builds}/lto/mivo)
  set_tests_properties(test_hooks_left_out PROPERTIES FIXTURES_REQUIRED mivo_without_tests
                                                      LABELS build)
endif()
