// Independent jobs spread over threads, with results that cannot depend on
// how many there are.
//
// A conversion whose units of work are pure functions of their input (each
// symbol's colours come from its own pixels alone) can hand them to several
// threads, as long as each result goes to a place of its own and nothing
// else is written: then every thread count gives the same bytes. The jobs
// are cut into fixed chunks of consecutive jobs, and chunk c goes to part
// c % parts, each part one thread (the caller's own thread is part 0); the
// chunks are small enough that a part which meets the dear symbols of a
// picture does not leave the others waiting long.
//
// Threads are started for each call and joined before it returns, so that a
// caller holds nothing between calls; a call should therefore carry
// milliseconds of work (threads_for below). Where a thread cannot be started
// (too many threads for the address space, say) its part runs on the
// caller's thread after the others: slower, the same bytes. The browser page
// has no threads: there every part runs on the one thread, in order.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

// The most threads a program is asked for (--threads).
inline constexpr unsigned kMaxThreads = 256;

// The processor's cores as the system counts them, 1 where it does not say,
// at most kMaxThreads.
unsigned cores();

// How many parts to cut `jobs` into for `threads` threads: no more than the
// chunks of `chunk` jobs there are, and no more than jobs / min_jobs (at
// least 1), so that a small picture is not split into parts whose threads
// cost more to start (some tens of microseconds each) than they save.
unsigned threads_for(unsigned threads, size_t jobs, size_t chunk, size_t min_jobs);

// Calls chunk_job(begin, end, part) for every chunk [begin, end) of `chunk`
// jobs out of [0, jobs) (the last one shorter), chunk c on part c % parts,
// each part's chunks in order. The calls must not throw on a started
// thread; on the caller's thread an exception is passed on once the others
// have finished.
using ChunkJob = void (*)(const void* context, size_t begin, size_t end, unsigned part);
void run_chunks(unsigned parts, size_t jobs, size_t chunk, ChunkJob job, const void* context);

template <class Fn>
void parallel_chunks(unsigned parts, size_t jobs, size_t chunk, const Fn& fn)
{
    run_chunks(
        parts, jobs, chunk,
        [](const void* c, size_t begin, size_t end, unsigned part) { (*static_cast<const Fn*>(c))(begin, end, part); },
        std::addressof(fn));
}
