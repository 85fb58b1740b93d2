#ifndef VOXGRID_RUN_STOP_H
#define VOXGRID_RUN_STOP_H

#include <sys/types.h>

#include <string>

namespace voxgrid {

// A run stops cleanly on SIGINT, SIGTERM or SIGHUP. The handler only notes the
// signal and kills the sample process in flight; the run notices at its next
// sample, or once Google Benchmark returns, removes the --benchmark_out it was
// writing, and dies by the same signal, so whoever started it sees 128 + N.

// Installs the handler. A SIGHUP ignored from the start stays ignored: nohup
// asks for a run that outlives its terminal.
void catchStopSignals();

// The signal that asked the run to stop, or 0.
int stopSignal();

// The sample process the handler kills (0: none). Set it before looking at
// stopSignal(), and clear it before the process is reaped, after which its pid
// may belong to another.
void setSampleInFlight(pid_t pid);

// The temporary the stop removes, and the file it stands for ("": none).
void removeOnStop(const std::string& temporary, const std::string& target);

// Ends the run for stopSignal(): removes the temporary, says so in one line on
// standard error, and dies by the signal.
[[noreturn]] void stopRun();

} // namespace voxgrid

#endif
