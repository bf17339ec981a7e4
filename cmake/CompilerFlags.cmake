# SPDX-License-Identifier: GPL-3.0-or-later
# The flags every target of mivo is built with, as interface targets that the
# targets link, so that nothing is set for the whole directory tree.

# Warnings, and with MIVO_WERROR errors, for mivo's own code and its tests.
add_library(mivo_warnings INTERFACE)
target_compile_options(mivo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wformat=2
                                               $<$<BOOL:${MIVO_WERROR}>:-Werror>)

# AddressSanitizer and UndefinedBehaviorSanitizer, for the sanitized build.
add_library(mivo_sanitize INTERFACE)
if(MIVO_SANITIZE)
  target_compile_options(mivo_sanitize INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(mivo_sanitize INTERFACE -fsanitize=address,undefined)
endif()

# Debian's hardening: fortified string functions, the stack protector, a
# read-only relocation table bound at start, and a position-independent
# executable. The flags come from dpkg-buildflags, as a Debian package build
# would have them, so that they follow the distribution's defaults.
add_library(mivo_hardening INTERFACE)
if(MIVO_HARDEN)
  find_program(MIVO_DPKG_BUILDFLAGS dpkg-buildflags)
  set(mivo_harden_compile -g -O2 -fstack-protector-strong -Wformat -Werror=format-security
                          -D_FORTIFY_SOURCE=2)
  set(mivo_harden_link -Wl,-z,relro -Wl,-z,now)
  if(MIVO_DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${MIVO_DPKG_BUILDFLAGS} --get ${kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE status)
      if(status EQUAL 0)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        set(dpkg_${kind} ${flags})
      endif()
    endforeach()
    if(DEFINED dpkg_CXXFLAGS AND DEFINED dpkg_LDFLAGS)
      set(mivo_harden_compile ${dpkg_CPPFLAGS} ${dpkg_CXXFLAGS})
      set(mivo_harden_link ${dpkg_LDFLAGS})
    endif()
  endif()
  # Debian's compiler makes position-independent executables by default;
  # saying so keeps them so under another compiler.
  target_compile_options(mivo_hardening INTERFACE ${mivo_harden_compile} -fPIE)
  target_link_options(mivo_hardening INTERFACE ${mivo_harden_link} -pie)
  message(STATUS "Hardening flags: ${mivo_harden_compile} -fPIE ${mivo_harden_link} -pie")
endif()

add_library(mivo_flags INTERFACE)
target_link_libraries(mivo_flags INTERFACE mivo_warnings mivo_sanitize mivo_hardening)
