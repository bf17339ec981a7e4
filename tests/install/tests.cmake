# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages and the Debian package.

add_test(NAME man_pages_lint
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/lint-man.sh
    ${PROJECT_BINARY_DIR}/man/mivo.1 ${PROJECT_BINARY_DIR}/man/mivo-play-folder.1)

# Installs the package as root and removes it again, so it runs only when asked:
# MIVO_TEST_INSTALL=1 ctest -L install
add_test(NAME debian_package
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-deb.sh ${PROJECT_BINARY_DIR} ${MIVO_DEB_VERSION}
    ${CMAKE_COMMAND} ${CMAKE_CPACK_COMMAND})
string(REGEX REPLACE " .*" "" curl_package "${MIVO_CURL_DEPENDENCY}")
string(REGEX REPLACE " .*" "" chafa_package "${MIVO_CHAFA_DEPENDENCY}")
set_tests_properties(debian_package PROPERTIES
  LABELS install SKIP_RETURN_CODE 77 TIMEOUT 900 RESOURCE_LOCK mivo_package
  ENVIRONMENT "MIVO_CURL_PACKAGE=${curl_package};MIVO_CHAFA_PACKAGE=${chafa_package}")

# The package as it is shipped (a hardened release build) passes lintian. The
# sanitized build would package the same release build, so only one runs it.
if(NOT MIVO_SANITIZE)
  add_test(NAME debian_package_lintian
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-lintian.sh ${PROJECT_SOURCE_DIR}
      ${PROJECT_BINARY_DIR}/package ${CMAKE_COMMAND} ${CMAKE_CPACK_COMMAND})
  set_tests_properties(debian_package_lintian PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 900 RESOURCE_LOCK mivo_package)
endif()

# A package build without a maintainer says what is missing and how to give it.
add_test(NAME debian_package_needs_a_maintainer
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-no-maintainer.sh ${PROJECT_BINARY_DIR}
    ${CMAKE_CPACK_COMMAND})
