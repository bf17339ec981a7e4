// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target without libFuzzer: each seed file as it stands, then a
// fixed-seed stream of random bytes, lines built from the target's words, and
// mutations of the seed files given on the command line. Same seed, same
// inputs, every run.
//
//   <name>_fuzz_driver [RUNS] [SEED_FILE_OR_DIR...]
#include "fuzz_target.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::string;

class Generator
{
  public:
    explicit Generator(std::vector<Bytes> seeds) : seeds_(std::move(seeds)) {}

    Bytes next()
    {
        // The target's settings bytes, if it has any, vary like the rest.
        Bytes input = random_bytes(fuzz_hints.seed_prefix_length);
        switch (below(4)) {
        case 0:
            input += random_bytes(below(700));
            break;
        case 1:
            input += keyword_lines();
            break;
        default:
            input += mutate(seeds_.empty() ? keyword_lines() : seeds_[below(seeds_.size())]);
            break;
        }
        return input;
    }

  private:
    size_t below(size_t n) { return n == 0 ? 0 : random_() % n; }

    Bytes random_bytes(size_t n)
    {
        Bytes b;
        for (size_t i = 0; i < n; i++)
            b += static_cast<char>(random_() & 0xff);
        return b;
    }

    const char *token()
    {
        static const char *const common[] = {"\n", "\r\n", " ", "\\", "\"", "0", "-1",
                                             "99", "18446744073709551616", "\xc4",
                                             "\xe3\x83\x9e", "\xe2\x80\xae", "\x1b"};
        size_t own = fuzz_hints.token_count;
        size_t n = below(own + std::size(common));
        return n < own ? fuzz_hints.tokens[n] : common[n - own];
    }

    // Lines that mostly start with the format's words, with values of every
    // length up to past the readers' limits, and words inside them.
    Bytes keyword_lines()
    {
        Bytes b;
        size_t lines = below(30);
        for (size_t l = 0; l < lines; l++) {
            b += token();
            if (below(2) == 0)
                b += std::to_string(static_cast<int>(below(120)) - 10) + " ";
            size_t length = below(4) == 0 ? 240 + below(40) : below(80);
            while (length > 0) {
                if (below(5) == 0) {
                    Bytes t = token();
                    b += t;
                    length = t.size() >= length ? 0 : length - t.size();
                } else {
                    // NUL bytes now and then: readers of C strings trip on them.
                    b += below(40) == 0 ? '\0' : static_cast<char>(1 + below(255));
                    length--;
                }
            }
            if (below(10) != 0)
                b += '\n';
        }
        return b;
    }

    Bytes mutate(Bytes b)
    {
        size_t edits = 1 + below(8);
        for (size_t e = 0; e < edits; e++) {
            size_t at = below(b.size() + 1);
            switch (below(6)) {
            case 0: // flip bits of one byte
                if (!b.empty())
                    b[below(b.size())] ^= static_cast<char>(1 << below(8));
                break;
            case 1:
                b.insert(at, token());
                break;
            case 2:
                b.erase(at, below(64));
                break;
            case 3: // repeat a stretch, making long lines and long fields
                if (!b.empty()) {
                    size_t from = below(b.size());
                    b.insert(at, b.substr(from, below(300)));
                }
                break;
            case 4:
                b.insert(at, random_bytes(below(16)));
                break;
            default:
                b.insert(at, Bytes(below(300), static_cast<char>(below(256))));
                break;
            }
        }
        return b;
    }

    std::vector<Bytes> seeds_;
    std::mt19937_64 random_{0x6d69766f};
};

std::vector<Bytes> read_seeds(int argc, char **argv)
{
    std::vector<std::filesystem::path> paths;
    for (int i = 2; i < argc; i++) {
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto &f : std::filesystem::recursive_directory_iterator(argv[i]))
                if (f.is_regular_file())
                    paths.push_back(f.path());
        } else {
            paths.push_back(argv[i]);
        }
    }
    std::sort(paths.begin(), paths.end()); // directory order is not fixed
    std::vector<Bytes> seeds;
    for (const auto &p : paths) {
        std::ifstream in(p, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// The run that failed, told on abort so that it can be found again: the same
// seed gives the same inputs.
volatile long current_run = -1;

void tell_failed_run(int)
{
    char text[64];
    int length = snprintf(text, sizeof text, "failed at generated input %ld\n", current_run);
    if (length > 0 && write(2, text, static_cast<size_t>(length)) < 0)
        _exit(3);
    signal(SIGABRT, SIG_DFL);
    raise(SIGABRT);
}

} // namespace

int main(int argc, char **argv)
{
    long runs = argc > 1 ? strtol(argv[1], nullptr, 10) : 5000;
    std::vector<Bytes> seeds = read_seeds(argc, argv);
    signal(SIGABRT, tell_failed_run);
    Bytes prefix(fuzz_hints.seed_prefix, fuzz_hints.seed_prefix_length);
    for (const Bytes &seed : seeds) {
        Bytes input = prefix + seed;
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
    }
    Generator generator(seeds);
    for (long i = 0; i < runs; i++) {
        current_run = i;
        Bytes input = generator.next();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
    }
    printf("%zu seeds and %ld generated inputs went through the target\n", seeds.size(), runs);
    return 0;
}
