// What a directory tree holds, for comparing it before and after a command.
#pragma once

#include <map>
#include <string>

// How much of each object a snapshot holds, besides its type, permission
// bits and bytes or link target.
enum class a_snapshot {
  kContent,     // nothing else: two installations of the same files compare equal
  kMovedTimes,  // a non-directory's modification time, kept by a rename, so
                // a restored object shows as the very one that was there
  kAllTimes,    // every time that a write would change too
};

// Per path below |root| (links not followed), as much as |detail| says.
// Files are read without being marked read.
std::map<std::string, std::string> snapshot(const std::string& root, a_snapshot detail = a_snapshot::kMovedTimes);
