# The manual pages and the Debian package.

add_test(NAME man_pages_lint
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/lint-man.sh
    ${PROJECT_BINARY_DIR}/man/mivo.1 ${PROJECT_BINARY_DIR}/man/mivo-play-folder.1)

# Installs the package as root and removes it again, so it runs only when asked:
# MIVO_TEST_INSTALL=1 ctest -L install
add_test(NAME debian_package
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-deb.sh ${PROJECT_BINARY_DIR} ${CMAKE_CPACK_COMMAND})
set_tests_properties(debian_package PROPERTIES LABELS install SKIP_RETURN_CODE 77 TIMEOUT 300)
