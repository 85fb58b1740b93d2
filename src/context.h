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

// The allocator this process runs on: jemalloc, mimalloc or tcmalloc when one
// is preloaded, else glibc, with its version.
std::string allocatorName();

} // namespace voxgrid

#endif
