// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for MusicBrainz's replies: any bytes as the JSON answer to a
// disc id lookup. The first byte is the disc's track count (its tracks two
// minutes each). Every candidate must fit the disc and keep only clean texts,
// and applying one must give title-file fields of clean texts.
#include "database/disc_texts.h"
#include "fuzz_target.h"
#include "lookup/apply_titles.h"
#include "lookup/musicbrainz.h"
#include "text_checks.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace
{

const char *const TOKENS[] = {
    "{",          "}",         "[",           "]",        ",",         ":",
    "\"releases\"", "\"media\"", "\"tracks\"", "\"discs\"", "\"title\"", "\"artist-credit\"",
    "\"name\"",   "\"joinphrase\"", "\"id\"",  "\"offsets\"", "\"sectors\"", "\"position\"",
    "\"length\"", "\"recording\"", "\"artist\"", "\"date\"", "\"genres\"", "\"count\"",
    "\"label-info\"", "\"release-group\"", "\\u0000", "\\u001b", "\\ud83c\\udfb5", "\\ud800",
    "\\u202e", "null", "true", "12345678901",
};

CandidateList list;
DiscDatabase db;

} // namespace

// Seeds are read for the 13-track disc most of them answer.
const FuzzHints fuzz_hints = {TOKENS, std::size(TOKENS), "\x0d", 1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    Toc drive{};
    drive.count = 1 + data[0] % MAX_TRACKS;
    for (int i = 0; i <= drive.count; i++) {
        drive.track[i].offset = 150 + static_cast<uint32_t>(i) * 9000;
        drive.track[i].audio = true;
        drive.track[i].length = 9000;
    }
    LookupToc toc;
    if (!musicbrainz_toc(drive, toc))
        fuzzcheck::fail("the disc has no table", "");
    char id[MB_DISC_ID_SIZE];
    musicbrainz_disc_id(toc, id);

    size_t length = size - 1;
    char *reply = static_cast<char *>(malloc(length > 0 ? length : 1));
    memcpy(reply, data + 1, length);
    clear_candidates(list);
    int added = parse_musicbrainz_reply(reply, length, toc, id, list);
    if (list.count < 0 || list.count > MAX_CANDIDATES || (added < 0 && list.count != 0))
        fuzzcheck::fail("a candidate count out of range", "");
    rank_candidates(list);
    for (int i = 0; i < list.count; i++) {
        fuzzcheck::check_candidate(list.item[i], drive.count);
        memset(&db, 0, sizeof db);
        if (!apply_candidate(list.item[i], drive.count, db))
            fuzzcheck::fail("a candidate that fits cannot be applied", list.item[i].title);
        FUZZ_CHECK_CLEAN(db.entries[DISC_ENTRY].title);
        FUZZ_CHECK_CLEAN(db.entries[DISC_ENTRY].ext);
    }
    free(reply);
    return 0;
}
