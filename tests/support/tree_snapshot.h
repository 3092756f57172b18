// What a directory tree holds, for comparing it before and after a command.
#pragma once

#include <map>
#include <string>

// Per path below |root| (links not followed): type and permission bits, a
// file's bytes or a link's target, and a non-directory's modification time
// (kept by a rename, so a restored object shows as the very one that was
// there). With |all_times|, every time that a write would change too.
// Files are read without being marked read.
std::map<std::string, std::string> snapshot(const std::string& root, bool all_times = false);
