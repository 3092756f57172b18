// What an archive may install: the tar entry at the start of a stream,
// checked against the name its table of contents gives it.
#pragma once

#include <cstdint>
#include <string>

struct a_stream_entry;

// Why the tar entry at the start of a stream (tic/archive/stream_decoder.h)
// may not be installed as |name|, or empty when it may: it must carry that
// name, one that entry_name_problem (tic/format/entry_name.h) accepts and
// that is not a temporary's, be a regular file, a directory or a symbolic
// link, and a regular file must hold exactly |listed_size| bytes, the size
// its table entry gives (which the free-space check and space trust).
std::string stream_entry_problem(const std::string& name, const a_stream_entry& entry, uint64_t listed_size);
