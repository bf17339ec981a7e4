# SPDX-License-Identifier: GPL-3.0-or-later
# Read by cpack at packaging time, for each generator. A Debian package needs a
# maintainer, and without one dpkg-deb fails deep inside CPack with no word of
# why; so the packager is asked here, and named the way Debian's own tools find
# the packager when configure found nobody.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_PACKAGE_CONTACT STREQUAL "")
  set(name "$ENV{DEBFULLNAME}")
  set(mail "$ENV{DEBEMAIL}")
  if(mail MATCHES "^(.*[^ ]) *<(.+)>$")
    set(name "${CMAKE_MATCH_1}")
    set(mail "${CMAKE_MATCH_2}")
  endif()
  if(name STREQUAL "" OR NOT mail MATCHES "^[^@ ]+@[^@ ]+\\.[^@ ]+$")
    message(FATAL_ERROR
      "The Debian package has no maintainer: set DEBFULLNAME and DEBEMAIL "
      "(DEBFULLNAME='Full Name' DEBEMAIL=address cpack -G DEB), or configure with "
      "-DMIVO_PACKAGE_MAINTAINER='Full Name <address>'")
  endif()
  set(CPACK_PACKAGE_CONTACT "${name} <${mail}>")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${name} <${mail}>")
endif()
