#include "out_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace voxgrid {

OutFile planOutFile(const std::string& target) {
  OutFile f;
  f.target = target;
  f.writing = target;
  struct stat st {};
  std::string path = target;
  if (stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      return f;
    }
    // Through a link the file it names is replaced, not the link.
    char real[PATH_MAX];
    if (realpath(target.c_str(), real) == nullptr) {
      return f;
    }
    path = real;
    f.mode = static_cast<int>(st.st_mode & 07777);
  } else if (lstat(target.c_str(), &st) == 0) {
    return f; // a link to nothing yet: writing through it makes its file, as before
  }
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = path.substr(dir.size());
  if (name.empty() || name == "." || name == "..") {
    return f; // a directory: opening it fails, and says so
  }
  f.replaces = path;
  f.writing = dir + "." + name + ".tmp." + std::to_string(getpid());
  return f;
}

std::string checkOutFile(const OutFile& f) {
  if (f.inPlace()) {
    const int fd = open(f.writing.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      return std::strerror(errno);
    }
    close(fd);
    return "";
  }
  if (f.mode >= 0) {
    // Refused as before for a file its owner made read-only, though a rename could replace it.
    const int fd = open(f.replaces.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      return std::strerror(errno);
    }
    close(fd);
  }
  const int fd = open(f.writing.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const std::size_t slash = f.writing.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : f.writing.substr(0, slash);
    return "no temporary file can be made in " + dir + " (" + std::strerror(errno) + ")";
  }
  close(fd);
  unlink(f.writing.c_str());
  return "";
}

int finishOutFile(const OutFile& f, bool keep) {
  if (f.inPlace()) {
    return 0;
  }
  int error = 0;
  if (keep && f.mode >= 0 && chmod(f.writing.c_str(), static_cast<mode_t>(f.mode)) != 0) {
    error = errno;
  }
  if (keep && error == 0 && std::rename(f.writing.c_str(), f.replaces.c_str()) == 0) {
    return 0;
  }
  if (keep && error == 0) {
    error = errno;
  }
  unlink(f.writing.c_str());
  return error;
}

} // namespace voxgrid
