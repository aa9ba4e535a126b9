#pragma once
// How many threads a step whose work splits cleanly (decoding a file, reading a long table,
// matching records) may use.
#include <QtGlobal>

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace formats {

// The machine's cores, at most eight; CHACHONG_THREADS, when set to a number from 1, instead (1
// runs every such step on the calling thread alone: the way to see that no result depends on
// the threads).
inline int workerThreads() {
    bool ok = false;
    const int wanted = qEnvironmentVariableIntValue("CHACHONG_THREADS", &ok);
    if (ok && wanted >= 1) return std::min(wanted, 64);
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
}

// Runs work(0) .. work(parts - 1), part 0 on this thread and each other one on a thread of its
// own (on this one too when no thread is to be had). An exception a part throws is thrown here
// once every part is done.
template <typename Work> void onThreads(int parts, Work&& work) {
    std::vector<std::exception_ptr> errors(static_cast<size_t>(std::max(parts, 1)));
    const auto guarded = [&](int i) {
        try {
            work(i);
        } catch (...) {
            errors[size_t(i)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < parts; ++i) {
        try {
            threads.emplace_back(guarded, i);
        } catch (const std::system_error&) {
            guarded(i);
        }
    }
    guarded(0);
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

} // namespace formats
