# SPDX-License-Identifier: GPL-3.0-or-later
# The built binary names the version that project() gives, through the
# generated header, and answers unknown options with status 2.
add_test(NAME mivo_version COMMAND mivo --version)
set_tests_properties(mivo_version PROPERTIES
  PASS_REGULAR_EXPRESSION "^mivo ${PROJECT_VERSION}\n$")
add_test(NAME mivo_unknown_option
  COMMAND sh -c "\"$0\" --frobnicate; test $? -eq 2" $<TARGET_FILE:mivo>)
