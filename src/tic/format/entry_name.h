// Entry names: the paths, relative to the install directory, under which an
// archive stores its files.
#pragma once

#include <string>

struct a_stream_entry;

// Why |name| cannot name a file inside the install directory ("empty name",
// "absolute path", "\"..\" in path"), or null when it can. Extraction
// refuses such names and the archive tool does not store them.
const char* entry_name_problem(const std::string& name);

// Why the tar entry at the start of a stream (tic/stream_decoder.h) may not
// be installed as |name|, or empty when it may: it must carry that name,
// one that entry_name_problem accepts and that is not a temporary's, and be
// a regular file, a directory or a symbolic link.
std::string stream_entry_problem(const std::string& name, const a_stream_entry& entry);
