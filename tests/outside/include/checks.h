#ifndef CHECKS_H
#define CHECKS_H

// The project's own extent check, with a global name and a signature of its own.
inline bool checkExtents(int nx, int ny, int nz) { return nx > 0 && ny > 0 && nz > 0; }

#endif
