#ifndef VOXGRID_OUT_FILE_H
#define VOXGRID_OUT_FILE_H

#include <string>

namespace voxgrid {

// --benchmark_out as a run writes it: into a temporary beside the file
// (".NAME.tmp.PID" in the same directory), which takes the file's place only
// once it is whole, so a run that stops or fails leaves the file as it was,
// or none at all. A name that is there and is no regular file (/dev/null, a
// pipe) is written in place: there is no file to put a whole one in place of.
struct OutFile {
  std::string target;   // as given
  std::string writing;  // what the run opens: the temporary, or the target itself
  std::string replaces; // what the temporary is renamed onto, links followed; empty in place
  int mode = -1;        // the permissions of the file it replaces, kept; -1 where none was there
  bool inPlace() const { return replaces.empty(); }
};

OutFile planOutFile(const std::string& target);

// Why the run could not write the file, in words, or "" when it can: the
// temporary is made and removed again, a file written in place is opened.
std::string checkOutFile(const OutFile& f);

// Puts the temporary in the file's place when `keep`, else removes it; 0, or
// errno of the step that failed (the temporary is then removed too).
int finishOutFile(const OutFile& f, bool keep);

} // namespace voxgrid

#endif
