// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for gnudb's replies: any bytes as the answer to a query and to a
// read. The first byte is the disc's track count. A query's matches must name
// one of the protocol's categories and an id of 8 hex digits, their read
// command must be safe in a URL, and every text kept must be clean.
#include "fuzz_target.h"
#include "lookup/cddb.h"
#include "text_checks.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace
{

const char *const TOKENS[] = {
    "200 ", "210 ", "211 ", "202 ", "401 ", "rock ", "misc ", "soundtrack ", "01020304 ",
    ".\r\n", ".\n", "DTITLE=", "TTITLE", "DYEAR=", "DGENRE=", "EXTD=", " / ", "\\n", "\\t",
};

Candidate entry;

bool url_safe(const char *text)
{
    for (const char *p = text; *p; p++) {
        char c = *p;
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              strchr("-._~%+", c) != nullptr))
            return false;
    }
    return true;
}

} // namespace

const FuzzHints fuzz_hints = {TOKENS, std::size(TOKENS), "\x0d", 1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    int32_t tracks = data[0] % (MAX_TRACKS + 1);
    // A copy of exactly the reply's size, so that a read past it is caught
    // under the standalone driver's sanitizers too.
    size_t length = size - 1;
    char *reply = static_cast<char *>(malloc(length > 0 ? length : 1));
    memcpy(reply, data + 1, length);

    CddbMatch matches[MAX_CDDB_MATCHES];
    int count = -1;
    int code = parse_cddb_query(reply, length, matches, MAX_CDDB_MATCHES, count);
    if (count < 0 || count > MAX_CDDB_MATCHES || (code == REPLY_MALFORMED && count != 0))
        fuzzcheck::fail("a match count out of range", "");
    for (int i = 0; i < count; i++) {
        FUZZ_CHECK_CLEAN(matches[i].category);
        FUZZ_CHECK_CLEAN(matches[i].discid);
        FUZZ_CHECK_CLEAN(matches[i].title);
        if (strlen(matches[i].discid) != 8)
            fuzzcheck::fail("an id that is not 8 digits", matches[i].discid);
        char command[256];
        if (cddb_read_command(command, sizeof command, matches[i]) < 0 || !url_safe(command))
            fuzzcheck::fail("a read command unsafe in a URL", command);
    }

    if (parse_cddb_read(reply, length, tracks, entry) == 210)
        fuzzcheck::check_candidate(entry, tracks);
    free(reply);
    return 0;
}
