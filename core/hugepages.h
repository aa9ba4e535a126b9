#pragma once
// Large memory in transparent huge pages. A check fills hundreds of megabytes once (the decoded
// list, its rows, the indexes); in 4 KB pages a fifth of its time went to the kernel's page
// faults. glibc reads its malloc settings only when a process starts, so the program starts
// itself again once with them (GLIBC_TUNABLES=glibc.malloc.hugetlb=1: big allocations are
// marked for huge pages). Nothing else changes: same process id, arguments and environment;
// a GLIBC_TUNABLES the user set himself is left as it is, and so is everything when the new
// start fails.
namespace core {

// Called first thing in main, before any thread or output.
void useHugePages(char** argv);

} // namespace core
