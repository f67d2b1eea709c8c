// The perceptual and dithered conversions (--dither=ordered and the search
// of --dither) over threads: the same bytes for any number of them, on
// pictures of a few symbols and of many, from every kind of input; and the
// cutting of jobs into chunks that makes it so.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "colour/lab.hpp"
#include "io/parallel.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

TEST(Threads, ChunksCoverEveryJobOnceOnTheirPart)
{
    const struct {
        unsigned parts;
        size_t jobs, chunk;
    } cases[] = {{1, 0, 4}, {1, 10, 4}, {2, 10, 4}, {3, 10, 4}, {7, 1000, 32}, {7, 5, 32}, {4, 64, 1}, {2, 9, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.parts << " parts, " << c.jobs << " jobs, chunks of " << c.chunk);
        // One slot a job, written only by the job's own call.
        std::vector<int> times(c.jobs, 0);
        std::vector<unsigned> part_of(c.jobs, 99);
        parallel_chunks(c.parts, c.jobs, c.chunk, [&](size_t begin, size_t end, unsigned part) {
            for (size_t i = begin; i < end; ++i) {
                ++times[i];
                part_of[i] = part;
            }
        });
        const size_t chunk = c.chunk ? c.chunk : 1;
        for (size_t i = 0; i < c.jobs; ++i) {
            EXPECT_EQ(times[i], 1) << "job " << i;
            EXPECT_EQ(part_of[i], (i / chunk) % c.parts) << "job " << i;
        }
    }
}

TEST(Threads, AFailureOnTheCallersPartWaitsForTheOthers)
{
    std::atomic<int> finished{0};
    EXPECT_THROW(parallel_chunks(3, 30, 10,
                                 [&](size_t, size_t, unsigned part) {
                                     if (part == 0)
                                         throw std::runtime_error("part 0");
                                     ++finished;
                                 }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 2);
}

TEST(Threads, SmallJobsAreNotSplit)
{
    const struct {
        unsigned threads;
        size_t jobs, chunk, min_jobs;
        unsigned parts;
    } cases[] = {
        {2, 768, 32, 64, 2},   // the 256x192 example's symbols
        {7, 768, 32, 64, 7},   {256, 768, 32, 64, 12}, // no more than jobs / min_jobs
        {8, 100, 32, 64, 1},   // too little for a second thread
        {8, 0, 32, 64, 1},     {256, 4096, 32, 1, 128}, // no more than the chunks
        {1, 1 << 20, 32, 64, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(threads_for(c.threads, c.jobs, c.chunk, c.min_jobs), c.parts)
            << c.threads << " threads, " << c.jobs << " jobs";
    EXPECT_GE(cores(), 1u);
    EXPECT_LE(cores(), kMaxThreads);
}

TEST(Threads, TheTableOfScreenDifferencesHoldsTheirBits)
{
    for (const unsigned threads : {1u, 3u}) {
        const ScreenDifferences t = screen_differences(threads);
        ASSERT_EQ(t.d.size(), 65536u);
        for (unsigned x = 0; x < 256; ++x)
            for (unsigned y = 0; y < 256; ++y)
                ASSERT_EQ(screen_difference(&t, uint8_t(x), uint8_t(y)),
                          ciede2000(screen_labs()[x], screen_labs()[y]))
                    << x << " " << y << " on " << threads << " threads";
    }
}

TEST(Threads, SameBytesForAnyNumberOfThreads)
{
    const fs::path dir = scratch_dir();
    // A few symbols (fewer than one thread's share), a band of them, a group
    // of bands and one more, a picture of several groups whose rows are not a
    // multiple of the group's, and three wide bands (--dither: phases of 86
    // symbols, cut into as many parts as there are threads up to 5).
    const struct {
        const char* name;
        int w, h;
    } pictures[] = {{"one", 8, 8}, {"three", 24, 8}, {"band", 512, 16}, {"groups", 808, 336}, {"wide", 2048, 24}};
    const std::string enc = q(ENCSCREEN_EXE), spr = q(ENCSPRITE_EXE);
    const struct {
        std::string program, option;
        int status;
    } conversions[] = {{enc, "--perceptual", 1}, {enc, "--dither=ordered", 1}, {spr, "--dither=ordered", 0},
                       {spr, "--perceptual", 0}, {enc, "--dither", 1}, {spr, "--dither", 0}};
    for (const auto& p : pictures) {
        const Picture pic = photo_picture(p.w, p.h);
        const fs::path up = dir / (std::string(p.name) + ".bmp"), down = dir / (std::string(p.name) + "-down.bmp");
        write_file(up, make_bmp(pic));
        write_file(down, make_bmp(pic, {124, 0, true, 0, {'B', 'M'}}));
        for (const auto& c : conversions) {
            SCOPED_TRACE(std::string(p.name) + " " + c.program + " " + c.option);
            const fs::path one = dir / "one.out";
            fs::remove(one);
            ASSERT_EQ(run(c.program + " --threads 1 " + c.option + " " + q(up) + " " + q(one)).status, c.status);
            const Bytes want = read_file(one);
            ASSERT_FALSE(want.empty());
            for (const char* threads : {"2", "7", "256"}) {
                SCOPED_TRACE(std::string("--threads ") + threads);
                const std::string how = c.program + " --threads=" + threads + " " + c.option + " ";
                for (const std::string& command : {how + q(up), how + q(down), "cat " + q(up) + " | " + how + "-"}) {
                    fs::remove(dir / "out");
                    const RunResult r = run(command + " " + q(dir / "out"));
                    EXPECT_EQ(r.status, c.status) << command << r.err;
                    EXPECT_EQ(read_file(dir / "out"), want) << command;
                }
            }
        }
    }
}
