#ifndef VOXGRID_DETAIL_HUGE_PAGES_H
#define VOXGRID_DETAIL_HUGE_PAGES_H

#include <string>

namespace voxgrid {

// Bytes of this process's anonymous memory that the kernel backs with
// transparent huge pages now (AnonHugePages of /proc/self/smaps_rollup), or -1
// where the kernel does not say. A case that asks for huge pages is held to it:
// madvise is advice, and a process under prctl(PR_SET_THP_DISABLE), a cgroup
// or a fragmented host may get 4 KiB pages all the same.
long anonHugeBytes();
long anonHugeBytes(const std::string& smapsText); // the same, from the file's text

} // namespace voxgrid

#endif
