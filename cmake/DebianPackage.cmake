# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package (cpack -G DEB in the build directory): the files Debian's
# policy asks of a binary package beside the program, and CPack's settings.

# mivo has no mail domain of its own, and an invented address would send bug
# reports to a stranger, so the maintainer is whoever builds the package, named
# the way Debian's own tools find the packager: DEBFULLNAME and DEBEMAIL (or
# EMAIL). Failing those, the checkout's git identity, unless it lies in a domain
# reserved for examples and tests, which can never receive mail.
function(mivo_default_maintainer out)
  set(name "$ENV{DEBFULLNAME}")
  set(mail "$ENV{DEBEMAIL}")
  if(mail STREQUAL "")
    set(mail "$ENV{EMAIL}")
  endif()
  if(mail MATCHES "^(.*[^ ]) *<(.+)>$")
    set(name "${CMAKE_MATCH_1}")
    set(mail "${CMAKE_MATCH_2}")
  endif()
  find_package(Git QUIET)
  if(GIT_FOUND AND (name STREQUAL "" OR mail STREQUAL ""))
    foreach(key name email)
      execute_process(COMMAND ${GIT_EXECUTABLE} config user.${key}
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE git_${key} OUTPUT_STRIP_TRAILING_WHITESPACE
                      ERROR_QUIET)
    endforeach()
    if(name STREQUAL "")
      set(name "${git_name}")
    endif()
    if(mail STREQUAL "")
      set(mail "${git_email}")
    endif()
  endif()
  string(TOLOWER "${mail}" lower)
  if(name STREQUAL "" OR NOT lower MATCHES "^[^@ ]+@[^@ ]+\\.[^@ ]+$"
     OR lower MATCHES "(\\.|@)(example|invalid|test|localhost|local)$"
     OR lower MATCHES "@example\\.(com|net|org)$")
    set(${out} "" PARENT_SCOPE)
  else()
    set(${out} "${name} <${mail}>" PARENT_SCOPE)
  endif()
endfunction()

mivo_default_maintainer(mivo_maintainer)
set(MIVO_PACKAGE_MAINTAINER "${mivo_maintainer}" CACHE STRING
    "Maintainer of the Debian package, as 'Full Name <address>'")
# A builder who names themselves after the first configure is still heard.
if(MIVO_PACKAGE_MAINTAINER STREQUAL "" AND NOT mivo_maintainer STREQUAL "")
  set_property(CACHE MIVO_PACKAGE_MAINTAINER PROPERTY VALUE "${mivo_maintainer}")
endif()
if(MIVO_PACKAGE_MAINTAINER STREQUAL "")
  message(STATUS "The Debian package has no maintainer yet: set DEBFULLNAME and DEBEMAIL, "
                 "or -DMIVO_PACKAGE_MAINTAINER='Full Name <address>', before cpack -G DEB")
endif()

# The Debian revision makes this a packaging of the release, not a native package.
set(MIVO_DEB_RELEASE 1)
set(MIVO_DEB_VERSION ${PROJECT_VERSION}-${MIVO_DEB_RELEASE})

# Manual pages carry the version; the package holds them compressed, the
# changelog too, with gzip -n so that the archive does not change with the time.
set(doc_dir ${PROJECT_BINARY_DIR}/doc)
set(compressed ${doc_dir}/changelog.Debian.gz)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in ${doc_dir}/changelog.Debian @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${doc_dir}/copyright COPYONLY)
add_custom_command(OUTPUT ${doc_dir}/changelog.Debian.gz
  COMMAND gzip -9nf ${doc_dir}/changelog.Debian -c > ${doc_dir}/changelog.Debian.gz
  DEPENDS ${doc_dir}/changelog.Debian VERBATIM)
foreach(page ${MIVO_MAN_PAGES})
  add_custom_command(OUTPUT ${doc_dir}/${page}.gz
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/${page} -c > ${doc_dir}/${page}.gz
    DEPENDS ${PROJECT_BINARY_DIR}/man/${page} VERBATIM)
  list(APPEND compressed ${doc_dir}/${page}.gz)
  install(FILES ${doc_dir}/${page}.gz DESTINATION share/man/man1)
endforeach()
add_custom_target(mivo_docs ALL DEPENDS ${compressed})
install(FILES ${doc_dir}/changelog.Debian.gz ${doc_dir}/copyright DESTINATION share/doc/mivo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION share/lintian/overrides RENAME mivo)

# The compiler's version notes in .comment say nothing to a user, and strip
# keeps them, so they go once mivo is in place.
install(CODE "
  set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/mivo\")
  if(EXISTS \"\${installed}\")
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment \"\${installed}\")
  endif()")

set(CPACK_PACKAGE_CONTACT "${MIVO_PACKAGE_MAINTAINER}")
# Asks for a maintainer at packaging time when there is none yet.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen terminal player for audio CDs")
set(CPACK_PACKAGE_DESCRIPTION "\
mivo plays an audio CD with single-key commands and shows the drive's state,
the times and the track list. It keeps the disc and track titles in one
xmcd-format file per disc under ~/.kel and edits them in a built-in editor.
It reaches the drive through SDL 1.2's CD-ROM interface. mivo-play-folder
plays a folder of MP3 files as a virtual disc through sdl12-compat.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${MIVO_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# libcurl (opened when the first lookup needs it) and libchafa (when a cover
# is first drawn) are not linked, so dpkg-shlibdeps cannot see them: the
# dependency on each is the one the shlibs file of the package holding the
# build's library gives for its SONAME, as dpkg-shlibdeps would have found it.
function(mivo_library_dependency out soname file)
  set(${out} "" PARENT_SCOPE)
  find_program(MIVO_DPKG_QUERY dpkg-query)
  if(NOT MIVO_DPKG_QUERY OR NOT soname MATCHES "^(.+)\\.so\\.([^/]+)$")
    return()
  endif()
  set(library "${CMAKE_MATCH_1}")
  set(soversion "${CMAKE_MATCH_2}")
  execute_process(COMMAND ${MIVO_DPKG_QUERY} -S ${file}
                  OUTPUT_VARIABLE owner RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT owner MATCHES "^([^:, ]+)(:[^:, ]+)?: ")
    return()
  endif()
  set(package "${CMAKE_MATCH_1}")
  execute_process(COMMAND ${MIVO_DPKG_QUERY} --control-show "${CMAKE_MATCH_1}${CMAKE_MATCH_2}" shlibs
                  OUTPUT_VARIABLE shlibs RESULT_VARIABLE status ERROR_QUIET)
  string(REPLACE "\n" ";" lines "${shlibs}")
  foreach(line IN LISTS lines)
    # "libcurl 4 libcurl4 (>= 7.88.1)": library, version, dependency.
    string(REGEX MATCH "^([^ ]+) +([^ ]+) +(.+)$" fields "${line}")
    if(fields AND CMAKE_MATCH_1 STREQUAL library AND CMAKE_MATCH_2 STREQUAL soversion)
      string(STRIP "${CMAKE_MATCH_3}" dependency)
      set(${out} "${dependency}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "${package}" PARENT_SCOPE)
endfunction()

mivo_library_dependency(MIVO_CURL_DEPENDENCY ${MIVO_CURL_SONAME} ${MIVO_CURL_LIBRARY_FILE})
if(MIVO_CURL_DEPENDENCY STREQUAL "" AND MIVO_CURL_SONAME STREQUAL "libcurl.so.4")
  set(MIVO_CURL_DEPENDENCY libcurl4)
endif()
mivo_library_dependency(MIVO_CHAFA_DEPENDENCY ${MIVO_CHAFA_SONAME} ${MIVO_CHAFA_LIBRARY_FILE})
if(MIVO_CHAFA_DEPENDENCY STREQUAL "" AND MIVO_CHAFA_SONAME STREQUAL "libchafa.so.0")
  set(MIVO_CHAFA_DEPENDENCY libchafa0)
endif()
set(MIVO_OPENED_DEPENDENCIES "")
foreach(opened CURL CHAFA)
  if(MIVO_${opened}_DEPENDENCY STREQUAL "")
    message(WARNING "The Debian package of ${MIVO_${opened}_SONAME} was not found: "
                    "the package will not depend on it")
  else()
    list(APPEND MIVO_OPENED_DEPENDENCIES "${MIVO_${opened}_DEPENDENCY}")
  endif()
endforeach()
list(JOIN MIVO_OPENED_DEPENDENCIES ", " MIVO_OPENED_DEPENDENCIES)

# The shared libraries' own packages, as dpkg-shlibdeps finds them, and
# those of the libraries opened on first use are the dependencies; the
# virtual disc needs sdl12-compat's library beside them.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${MIVO_OPENED_DEPENDENCIES}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libgcc-s1, libstdc++6, libncursesw6, libtinfo6, libsdl1.2debian")
  if(NOT MIVO_OPENED_DEPENDENCIES STREQUAL "")
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${MIVO_OPENED_DEPENDENCIES}")
  endif()
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libsdl1.2-compat)
include(CPack)
