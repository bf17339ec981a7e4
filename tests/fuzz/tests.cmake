# SPDX-License-Identifier: GPL-3.0-or-later
# Every parser of outside input, fuzzed (cmake/Fuzz.cmake): title files, gnudb's
# and MusicBrainz's replies, the lookup's handling of HTTP replies, CUE sheets
# and what a rip brings besides them.
# Seeds are the project's own test data.
include(${PROJECT_SOURCE_DIR}/cmake/Fuzz.cmake)
set(data ${CMAKE_CURRENT_SOURCE_DIR}/data)

mivo_add_fuzzer(NAME database TARGET ${CMAKE_CURRENT_SOURCE_DIR}/database/fuzz/load_database_fuzz.cpp
  SOURCES src/database/database.cpp src/database/disc_id.cpp src/common/directory.cpp
  SEEDS ${data}/xmcd RUNS 10000 MAX_LEN 4096)

mivo_add_fuzzer(NAME cddb TARGET ${CMAKE_CURRENT_SOURCE_DIR}/lookup/fuzz/cddb_fuzz.cpp
  SOURCES src/lookup/cddb.cpp src/lookup/candidate.cpp
  SEEDS ${data}/lookup/cddb ${data}/xmcd RUNS 20000 MAX_LEN 8192)

mivo_add_fuzzer(NAME musicbrainz TARGET ${CMAKE_CURRENT_SOURCE_DIR}/lookup/fuzz/musicbrainz_fuzz.cpp
  SOURCES src/lookup/musicbrainz.cpp src/lookup/candidate.cpp src/lookup/disc_toc.cpp
          src/lookup/sha1.cpp src/lookup/apply_titles.cpp
  SEEDS ${data}/lookup/musicbrainz INCLUDES ${JSMN_INCLUDE_DIR} RUNS 5000 MAX_LEN 65536)

mivo_add_fuzzer(NAME lookup_replies TARGET ${CMAKE_CURRENT_SOURCE_DIR}/lookup/fuzz/lookup_replies_fuzz.cpp
  SOURCES src/lookup/lookup.cpp src/lookup/cddb.cpp src/lookup/musicbrainz.cpp
          src/lookup/candidate.cpp src/lookup/disc_toc.cpp src/lookup/sha1.cpp
  SEEDS ${data}/fuzz/lookup_replies INCLUDES ${JSMN_INCLUDE_DIR} RUNS 5000 MAX_LEN 65536)

mivo_add_fuzzer(NAME cue_sheet TARGET ${CMAKE_CURRENT_SOURCE_DIR}/drive/digital/fuzz/cue_sheet_fuzz.cpp
  SOURCES src/drive/digital/cue_sheet.cpp
  SEEDS ${data}/cue RUNS 20000 MAX_LEN 16384)

# What a rip brings besides its sheet's text: FILE names looked up on disk,
# file names put in order, tags made titles, FLAC's CUESHEET block.
mivo_add_fuzzer(NAME rip TARGET ${CMAKE_CURRENT_SOURCE_DIR}/drive/digital/fuzz/rip_fuzz.cpp
  SOURCES src/drive/digital/cue_sheet.cpp src/drive/digital/rip.cpp src/drive/digital/sheet_files.cpp
          src/common/directory.cpp
  SEEDS ${data}/rip-fuzz LIBS ${FLAC_LDFLAGS} ${WAVPACK_LDFLAGS} RUNS 20000 MAX_LEN 2048)

mivo_add_fuzzer(NAME desktop_input TARGET ${CMAKE_CURRENT_SOURCE_DIR}/desktop/fuzz/desktop_input_fuzz.cpp
  SOURCES src/desktop/file_uri.cpp src/desktop/flac_picture.cpp src/lookup/cover_release.cpp
  SEEDS ${data}/fuzz/desktop_input RUNS 20000 MAX_LEN 4096)
