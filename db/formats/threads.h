#pragma once
// How many threads a step whose work splits cleanly (decoding a file, reading a long table,
// matching records) may use.
#include <QtGlobal>

#include <algorithm>
#include <thread>

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

} // namespace formats
