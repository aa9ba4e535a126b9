#include "core/hugepages.h"

#include <climits>
#include <cstdlib>

#include <unistd.h>

namespace core {

void useHugePages(char** argv) {
#if defined(__linux__) && defined(__GLIBC__)
    if (std::getenv("GLIBC_TUNABLES")) return; // set by the user, or by the first start
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    if (setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1) != 0) return;
    execv(self, argv);
    unsetenv("GLIBC_TUNABLES"); // not started again: go on as before
#else
    (void)argv;
#endif
}

} // namespace core
