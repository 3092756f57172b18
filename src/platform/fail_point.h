// Fail points: places where a test build of kestrel kills itself, so that
// the tests can stop a command at one fixed step, whatever the load of the
// machine, and check what a rerun or a restore makes of what it left.
//
// Compiled in only with KESTREL_FAIL_POINTS (a CMake option, on in the
// builds the test suite makes, off in the package): elsewhere FAIL_POINT
// is nothing at all. In a test build, KESTREL_FAIL_AT names one point,
// "<point>" or "<point>:<n>", and the process sends itself SIGKILL when it
// reaches that point (for "<point>:<n>", the n-th time, counting from 1).
//
// The points, in the order a command passes them:
//   journal-begun     install, upgrade: the journal's first line is on disk
//   backed-up         install, upgrade, remove: one object kept in the backup tree
//   put-in-place      install, upgrade: one file renamed into place
//   removed           upgrade, remove: one installed file taken away
//   restored          restore: one object of the backup tree put back
//   record-written    every writing command: the new record is on disk under
//                     its temporary name, not yet renamed over the old one
//   record-renamed    every writing command: the record is in place, the
//                     journal not yet removed
#pragma once

#include <cstdint>

#ifdef KESTREL_FAIL_POINTS
// Kills the process when KESTREL_FAIL_AT names |point| (each call counts
// one passage).
void fail_point(const char* point);
#define FAIL_POINT(point) fail_point(point)
#define FAIL_POINT_IF(condition, point) ((condition) ? fail_point(point) : (void)0)
#else
#define FAIL_POINT(point) ((void)0)
#define FAIL_POINT_IF(condition, point) ((void)0)
#endif
