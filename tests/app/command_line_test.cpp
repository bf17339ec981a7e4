// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"
#include "app/player.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

CommandLine parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "mivo");
    std::vector<char *> argv;
    for (const char *a : args)
        argv.push_back(const_cast<char *>(a));
    argv.push_back(nullptr);
    return parse_command_line(static_cast<int>(args.size()), argv.data());
}

TEST(CommandLine, OptionsAndTheDiscArgument)
{
    struct Case {
        std::vector<const char *> args;
        CommandLineAction action;
        const char *disc;
        int drive;
        bool lookup_disabled;
    } cases[] = {
        {{}, ACTION_RUN, nullptr, 0, false},
        {{"--help"}, ACTION_HELP, nullptr, 0, false},
        {{"-h", "4"}, ACTION_HELP, "4", 4, false},
        {{"--version"}, ACTION_VERSION, nullptr, 0, false},
        {{"-V"}, ACTION_VERSION, nullptr, 0, false},
        {{"--no-lookup"}, ACTION_RUN, nullptr, 0, true},
        // Options may stand on either side of the disc.
        {{"--no-lookup", "0x2"}, ACTION_RUN, "0x2", 2, true},
        {{"010", "--no-lookup"}, ACTION_RUN, "010", 8, true},
        // Negative numbers and text without digits keep the old reading.
        {{"-3"}, ACTION_RUN, "-3", -3, false},
        {{" -3"}, ACTION_RUN, " -3", -3, false},
        {{"-"}, ACTION_RUN, "-", 0, false},
        {{"abc"}, ACTION_RUN, "abc", 0, false},
        {{"2", "5"}, ACTION_RUN, "2", 2, false},
        {{"/dev/sr0"}, ACTION_RUN, "/dev/sr0", 0, false},
        {{"album.cue"}, ACTION_RUN, "album.cue", 0, false},
        // After "--" even a name that looks like an option is the disc.
        {{"--", "-e.cue"}, ACTION_RUN, "-e.cue", 0, false},
    };
    for (const Case &c : cases) {
        std::string where = c.args.empty() ? "(none)" : c.args[0];
        CommandLine line = parse(c.args);
        EXPECT_EQ(line.action, c.action) << where;
        EXPECT_STREQ(line.disc, c.disc) << where;
        EXPECT_EQ(line.drive_number, c.drive) << where;
        EXPECT_EQ(line.lookup_disabled, c.lookup_disabled) << where;
    }
}

TEST(CommandLine, UnknownOptionWinsOverEverythingElse)
{
    struct Case {
        std::vector<const char *> args;
        const char *bad;
    } cases[] = {
        {{"-x"}, "-x"},           {{"--helpme"}, "--helpme"}, {{"--version", "--bogus"}, "--bogus"},
        {{"-Z", "--help"}, "-Z"}, {{"3", "-v"}, "-v"},        {{"---"}, "---"},
    };
    for (const Case &c : cases) {
        CommandLine line = parse(c.args);
        EXPECT_EQ(line.action, ACTION_BAD_OPTION) << c.bad;
        EXPECT_STREQ(line.bad_option, c.bad);
    }
}

// What answer_command_line wrote to a stream, and the status it returned.
struct Answer {
    int status;
    std::string out;
    std::string err;
};

std::string contents(FILE *file)
{
    std::string text;
    rewind(file);
    for (int c = fgetc(file); c != EOF; c = fgetc(file))
        text += static_cast<char>(c);
    fclose(file);
    return text;
}

Answer answer(std::vector<const char *> args)
{
    FILE *out = tmpfile();
    FILE *err = tmpfile();
    int status = answer_command_line(parse(args), out, err);
    return {status, contents(out), contents(err)};
}

TEST(CommandLine, HelpNamesEveryWayToNameADisc)
{
    for (const char *option : {"--help", "-h"}) {
        Answer a = answer({option});
        EXPECT_EQ(a.status, 0) << option;
        EXPECT_EQ(a.err, "");
        for (const char *part : {"Usage: mivo", "drive number", ".cue", "/dev/sr0", "--version",
                                 "--no-lookup", "Q quit", "~/.kel"})
            EXPECT_NE(a.out.find(part), std::string::npos) << part;
    }
}

TEST(CommandLine, VersionIsOneLineOfNameAndNumber)
{
    for (const char *option : {"--version", "-V"}) {
        Answer a = answer({option});
        EXPECT_EQ(a.status, 0);
        EXPECT_TRUE(testing::internal::RE::FullMatch(a.out, "mivo [0-9]+\\.[0-9]+\\.[0-9]+\n"))
            << a.out;
        EXPECT_EQ(a.err, "");
    }
}

TEST(CommandLine, UnknownOptionIsOneLineOnStandardErrorAndStatus2)
{
    Answer a = answer({"--shuffle"});
    EXPECT_EQ(a.status, 2);
    EXPECT_EQ(a.out, "");
    EXPECT_EQ(a.err, "mivo: unknown option '--shuffle' (mivo --help lists the options)\n");
}

TEST(CommandLine, PlayerStartsOnlyWithoutARequest)
{
    EXPECT_EQ(answer({"1"}).status, -1);
    EXPECT_EQ(answer({"--no-lookup"}).status, -1);
}

// Help sent to a full disc or a closed pipe must not end as a success.
TEST(CommandLine, HelpThatCannotBeWrittenFails)
{
    FILE *full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(answer_command_line(parse({"--help"}), full, stderr), 1);
    fclose(full);
}

// Runs the whole program in a child with its standard output on standard
// error, and reports how many calls reached the drive.
[[noreturn]] void run_in_child(std::vector<const char *> args)
{
    reset_fake_sdl();
    dup2(2, 1);
    args.insert(args.begin(), "mivo");
    args.push_back(nullptr);
    int status = run_player(static_cast<int>(args.size()) - 1, const_cast<char **>(args.data()));
    fflush(stdout);
    fprintf(stderr, "drive calls=%zu\n", fake_sdl.calls.size());
    _exit(status);
}

TEST(CommandLine, RequestsEndBeforeTheDriveIsTouched)
{
    EXPECT_EXIT(run_in_child({"--help"}), testing::ExitedWithCode(0),
                "Usage: mivo(.|\n)*drive calls=0\n$");
    EXPECT_EXIT(run_in_child({"-V"}), testing::ExitedWithCode(0),
                "^mivo [0-9.]+\ndrive calls=0\n$");
    EXPECT_EXIT(run_in_child({"-q", "0"}), testing::ExitedWithCode(2),
                "^mivo: unknown option '-q'[^\n]*\ndrive calls=0\n$");
}

} // namespace
