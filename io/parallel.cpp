// Jobs over threads: see parallel.hpp.
#include "io/parallel.hpp"

#include <algorithm>
#include <exception>
#include <vector>

#ifndef __EMSCRIPTEN__
#include <thread>
#endif

namespace {

void run_part(unsigned parts, size_t jobs, size_t chunk, ChunkJob job, const void* context, unsigned part)
{
    for (size_t begin = size_t(part) * chunk; begin < jobs; begin += size_t(parts) * chunk)
        job(context, begin, std::min(jobs, begin + chunk), part);
}

} // namespace

unsigned cores()
{
#ifdef __EMSCRIPTEN__
    return 1;
#else
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : std::min(n, kMaxThreads);
#endif
}

unsigned threads_for(unsigned threads, size_t jobs, size_t chunk, size_t min_jobs)
{
    const size_t chunks = chunk == 0 ? 1 : (jobs + chunk - 1) / chunk;
    const size_t worth = min_jobs == 0 ? jobs : jobs / min_jobs;
    return unsigned(std::max<size_t>(1, std::min({size_t(threads), chunks, worth})));
}

void run_chunks(unsigned parts, size_t jobs, size_t chunk, ChunkJob job, const void* context)
{
    chunk = std::max<size_t>(chunk, 1);
    parts = std::max(1u, parts);
#ifdef __EMSCRIPTEN__
    for (unsigned p = 0; p < parts; ++p)
        run_part(parts, jobs, chunk, job, context, p);
#else
    if (parts == 1) {
        run_part(1, jobs, chunk, job, context, 0);
        return;
    }
    std::vector<std::thread> started;
    std::vector<unsigned> left; // parts whose thread could not be started
    try {
        started.reserve(parts - 1);
        left.reserve(parts - 1);
    } catch (...) {
        // No memory even for the list: every part on this thread.
        for (unsigned p = 0; p < parts; ++p)
            run_part(parts, jobs, chunk, job, context, p);
        return;
    }
    for (unsigned p = 1; p < parts; ++p) {
        try {
            started.emplace_back(run_part, parts, jobs, chunk, job, context, p);
        } catch (...) { // std::system_error, or no memory for the thread
            left.push_back(p);
        }
    }
    std::exception_ptr failed;
    try {
        run_part(parts, jobs, chunk, job, context, 0);
        for (const unsigned p : left)
            run_part(parts, jobs, chunk, job, context, p);
    } catch (...) {
        failed = std::current_exception();
    }
    for (std::thread& t : started)
        t.join();
    if (failed)
        std::rethrow_exception(failed);
#endif
}
