// SPDX-License-Identifier: GPL-3.0-or-later
// Counts the heap allocations that mivo's own code makes while it plays. For
// this program mivo's code is built into a shared library of its own, so the
// address a call to malloc or operator new returns to tells mivo's calls apart
// from those of curses, libc, the SDL double and GoogleTest.
#include "app/commands.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/database.h"
#include "drive/drive.h"
#include "fake_sdl.h"
#include "test_screen.h"
#include "ui/player_screen.h"
#include "ui/terminal.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *old, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace
{

// The address ranges of the shared library that holds mivo's code and of
// this test program.
uintptr_t mivo_begin, mivo_end;
uintptr_t test_begin, test_end;

bool counting;
long mivo_allocations;
long library_allocations;
void *first_mivo_caller;

// Counts an allocation as mivo's when its caller lies in mivo's library, and as
// the libraries' (curses, libc, the C++ library) when outside this program.
void note_allocation(void *caller)
{
    if (!counting)
        return;
    auto address = reinterpret_cast<uintptr_t>(caller);
    if (address >= mivo_begin && address < mivo_end) {
        if (mivo_allocations == 0)
            first_mivo_caller = caller;
        mivo_allocations++;
    } else if (address < test_begin || address >= test_end) {
        library_allocations++;
    }
}

void *allocate_or_throw(size_t size, size_t alignment = 0)
{
    if (size == 0)
        size = 1;
    void *block = alignment ? __libc_memalign(alignment, size) : __libc_malloc(size);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

} // namespace

// This program's allocation functions replace the C and C++ ones for every
// caller; each notes who called it and hands the work to glibc's allocator.
extern "C" void *malloc(size_t size) noexcept
{
    note_allocation(__builtin_return_address(0));
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size) noexcept
{
    note_allocation(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *old, size_t size) noexcept
{
    note_allocation(__builtin_return_address(0));
    return __libc_realloc(old, size);
}

extern "C" void free(void *block) noexcept { __libc_free(block); }

void *operator new(size_t size)
{
    note_allocation(__builtin_return_address(0));
    return allocate_or_throw(size);
}

void *operator new[](size_t size)
{
    note_allocation(__builtin_return_address(0));
    return allocate_or_throw(size);
}

void *operator new(size_t size, std::align_val_t alignment)
{
    note_allocation(__builtin_return_address(0));
    return allocate_or_throw(size, static_cast<size_t>(alignment));
}

void *operator new[](size_t size, std::align_val_t alignment)
{
    note_allocation(__builtin_return_address(0));
    return allocate_or_throw(size, static_cast<size_t>(alignment));
}

void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    note_allocation(__builtin_return_address(0));
    return __libc_malloc(size ? size : 1);
}

void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    note_allocation(__builtin_return_address(0));
    return __libc_malloc(size ? size : 1);
}

void operator delete(void *block) noexcept { __libc_free(block); }
void operator delete[](void *block) noexcept { __libc_free(block); }
void operator delete(void *block, size_t) noexcept { __libc_free(block); }
void operator delete[](void *block, size_t) noexcept { __libc_free(block); }
void operator delete(void *block, std::align_val_t) noexcept { __libc_free(block); }
void operator delete[](void *block, std::align_val_t) noexcept { __libc_free(block); }
void operator delete(void *block, size_t, std::align_val_t) noexcept { __libc_free(block); }
void operator delete[](void *block, size_t, std::align_val_t) noexcept { __libc_free(block); }

namespace
{

// The address range of the loaded object (program or library) that holds code.
bool find_loaded_object(const void *code, uintptr_t &begin, uintptr_t &end)
{
    Dl_info info{};
    if (dladdr(code, &info) == 0 || info.dli_fbase == nullptr)
        return false;
    struct Search {
        uintptr_t base, begin, end;
    } search{reinterpret_cast<uintptr_t>(info.dli_fbase), UINTPTR_MAX, 0};
    dl_iterate_phdr(
        [](dl_phdr_info *object, size_t, void *data) {
            auto *s = static_cast<Search *>(data);
            uintptr_t first = UINTPTR_MAX, last = 0;
            for (int i = 0; i < object->dlpi_phnum; i++) {
                const ElfW(Phdr) &segment = object->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD)
                    continue;
                uintptr_t from = object->dlpi_addr + segment.p_vaddr;
                first = std::min(first, from);
                last = std::max(last, from + segment.p_memsz);
            }
            if (first != s->base)
                return 0;
            s->begin = first;
            s->end = last;
            return 1;
        },
        &search);
    begin = search.begin;
    end = search.end;
    return begin < end;
}

// Where the first of mivo's allocations came from, for the failure message.
std::string describe_first_caller()
{
    Dl_info info{};
    if (first_mivo_caller == nullptr || dladdr(first_mivo_caller, &info) == 0)
        return "unknown";
    char text[512];
    auto offset = reinterpret_cast<uintptr_t>(first_mivo_caller) -
                  reinterpret_cast<uintptr_t>(info.dli_fbase);
    int status = -1;
    char *name =
        info.dli_sname ? abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status) : nullptr;
    snprintf(text, sizeof text, "%s (addr2line -C -f -e %s 0x%lx)",
             name             ? name
             : info.dli_sname ? info.dli_sname
                              : "a local function",
             info.dli_fname, static_cast<unsigned long>(offset - 1));
    free(name);
    return text;
}

class Heap : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(
            find_loaded_object(reinterpret_cast<void *>(&dispatch_key), mivo_begin, mivo_end))
            << "mivo's shared library is not loaded";
        ASSERT_TRUE(find_loaded_object(reinterpret_cast<void *>(&feed_keys), test_begin, test_end));
        home = std::filesystem::temp_directory_path() / ("mivo-heap-" + std::to_string(getpid()));
        std::filesystem::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        reset_fake_sdl();
        player = PlayerState{};
        mivo_allocations = 0;
        library_allocations = 0;
        first_mivo_caller = nullptr;
        open_test_screen(30, 100);
    }

    void TearDown() override
    {
        counting = false;
        std::filesystem::remove_all(home);
    }

    // One turn of the main loop with key as the key read: the key is queued and
    // read through curses, so the read refreshes the screen as in the player.
    static void turn(int key)
    {
        poll_drive();
        draw_player_screen(player.db, player.drive, player.play_mode);
        feed_keys(std::string(1, static_cast<char>(key)));
        dispatch_key(read_key(5));
    }

    // A command that opens a dialog: its input is queued first, and whatever a
    // dialog leaves unread is dropped so that it cannot reach the next turn.
    static void dialog_turn(int key, const std::string &input)
    {
        poll_drive();
        draw_player_screen(player.db, player.drive, player.play_mode);
        feed_keys(std::string(1, static_cast<char>(key)) + input);
        dispatch_key(read_key(5));
        drain_keys();
    }

    std::filesystem::path home;
};

TEST_F(Heap, MivoCodeAllocatesNothingFromStartUpToShutDown)
{
    const std::vector<unsigned> first_disc = {18000, 9000,  22500, 13000, 30000, 4500,
                                              7000,  11000, 9500,  16000, 12000, 8000};
    const std::vector<unsigned> second_disc = {40000, 35000, 30000};
    insert_fake_disc(first_disc);

    counting = true;
    // The player's own start-up, with the test screen in place of the terminal.
    char program[] = "mivo";
    char *argv[] = {program, nullptr};
    start_up(1, argv);
    ASSERT_EQ(player.drive.toc.count, static_cast<int>(first_disc.size()));
    draw_player_screen(player.db, player.drive, player.play_mode);

    const char player_keys[] = "pu]u[+-=_*/mmmcrpsx?\n 9";
    for (int round = 0; round < 20; round++) {
        for (const char *k = player_keys; *k != '\0'; k++)
            turn(*k);
        dialog_turn('g', "3\n");
        dialog_turn('G', "\n");
        dialog_turn('t', "cddue"
                         "Track name\n"
                         "t"
                         "Artist / Album\n"
                         "dq"); // the editor: reset, move, edit a track and the disc, leave
        player.db.dirty = 1;
        save_database(player.db, player.drive.toc);
        // A disc change: out, the other disc in, and back, with loads each time.
        turn('e');
        turn('x');
        insert_fake_disc(round % 2 ? first_disc : second_disc);
        turn('p');
        // A new terminal size; curses queues KEY_RESIZE, which is dropped.
        resizeterm(round % 2 ? 30 : 24, round % 2 ? 100 : 80);
        drain_keys();
    }
    counting = false;
    long mivo_during_play = mivo_allocations;
    long libraries_during_play = library_allocations;

    // The player's own shut-down, the terminal given back first as it does.
    counting = true;
    stop_terminal();
    EXPECT_EQ(shut_down(), 0) << "a save failed at shut-down";
    counting = false;

    // The editor and the explicit saves wrote the discs' files, so the loads
    // at the disc changes read them: the file code ran under the count.
    EXPECT_TRUE(std::filesystem::exists(home / ".kel") && !std::filesystem::is_empty(home / ".kel"))
        << "no database file was written under " << home;
    EXPECT_EQ(mivo_allocations, 0)
        << "mivo's own code allocated on the heap " << mivo_allocations
        << " times; the first call came from " << describe_first_caller();
    // What curses and libc allocate for mivo (files opened for loads and saves,
    // curses' own buffers) is theirs; shown for the record.
    printf("heap allocations while playing: %ld by mivo's code, %ld by the libraries it calls\n",
           mivo_during_play, libraries_during_play);
}

// The address test tells mivo's code from the test's, so the count above
// cannot pass for want of recognising mivo's calls.
TEST_F(Heap, CallerAddressesAreAttributedToMivoLibraryOnly)
{
    counting = true;
    note_allocation(reinterpret_cast<void *>(&dispatch_key));
    note_allocation(reinterpret_cast<void *>(&draw_player_screen));
    note_allocation(reinterpret_cast<void *>(&describe_first_caller));
    note_allocation(reinterpret_cast<void *>(&feed_keys));
    counting = false;
    EXPECT_EQ(mivo_allocations, 2);
    EXPECT_EQ(library_allocations, 0);
}

} // namespace
