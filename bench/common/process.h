#pragma once
// Whole processes timed the way a user waits for them: started, run to their end, their wall
// time and peak resident size; and the median of repeated runs.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

namespace bench {

struct Process {
    double seconds = 0;
    double peakMB = 0;
    QByteArray out;
};

// Runs a program to its end with its output into a file; wall time and peak resident size.
inline std::optional<Process> runProcess(const QByteArray& program, const QList<QByteArray>& args,
                                         const QString& outFile) {
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    const QByteArray outName = QFile::encodeName(outFile);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outName.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::nullopt;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return std::nullopt;
    Process p;
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", program.constData(), status);
        return std::nullopt;
    }
    p.peakMB = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    QFile f(outFile);
    if (f.open(QIODevice::ReadOnly)) p.out = f.readAll();
    return p;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace bench
