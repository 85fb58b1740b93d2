#ifndef VOXGRID_THREAD_BINDING_H
#define VOXGRID_THREAD_BINDING_H

#include <string>

namespace voxgrid {

// Where the samples' threads may run. Unbound threads may share a core while
// another idles, and likwid-bench, which the ceilings are held against, pins
// its own; --bind sets the OpenMP runtime's variables that every sample
// process reads at its start:
//   close, spread: OMP_PROC_BIND=close|spread, OMP_PLACES=cores
//   none:          OMP_PROC_BIND=false (OMP_PLACES unset)
//   inherit:       the environment as it is
// Anything else throws std::invalid_argument quoting it.
void checkBinding(const std::string& mode);
void applyBinding(const std::string& mode);

// The binding in force for the samples, in one line for the context.
std::string bindingInForce(const std::string& mode);

} // namespace voxgrid

#endif
