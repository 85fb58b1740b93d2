#ifndef VOXGRID_CONTEXT_H
#define VOXGRID_CONTEXT_H

#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

// The state of this machine and process that moves the suite's figures,
// as (key, value) pairs for the report's context.
std::vector<std::pair<std::string, std::string>> machineContext();

// The selected word of a transparent-huge-page setting as the kernel writes it
// ("always [madvise] never" gives "madvise"), or "unavailable".
std::string thpSetting(const std::string& fileText);
// /sys/kernel/mm/transparent_hugepage/<name> on this machine, through thpSetting.
std::string thpMode(const char* name);

// The widest vector extension this build was compiled for ("sse2", "avx",
// "avx2", "avx512f"; "neon", "sve", "sve2" on Arm; "scalar" elsewhere), and the
// widest the running CPU offers, in the same words.
std::string buildIsa();
std::string cpuIsa();
// Whether `isa` is narrower than `than`, by the order above; false for words
// of different architectures.
bool isaBelow(const std::string& isa, const std::string& than);

// That order for the report: each architecture's extensions, narrowest first,
// joined by "<", architectures by "; ".
std::string isaOrdersText();

// A cache's size as sysfs writes it ("32768K", "1M", "512"), in bytes; -1
// where the text is not one.
long long cacheSizeBytes(const std::string& text);
// The last-level cache: the size of the highest level among the caches listed
// under `dir` (index0, index1, ...: each its level and size files), -1 where
// none is listed. llcBytes() is this machine's, read once.
long long lastLevelCacheBytes(const std::string& dir);
long long llcBytes();

// The allocator this process runs on: jemalloc, mimalloc or tcmalloc when one
// is preloaded, else glibc, with its version.
std::string allocatorName();

} // namespace voxgrid

#endif
