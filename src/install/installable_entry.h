// What an installation may hold: the names an archive may install under,
// which a record of an installation must keep to as well, and the tar entry
// at the start of a stream, checked against the name its table of contents
// gives it.
#pragma once

#include <cstdint>
#include <string>

struct a_stream_entry;

// Why |name| may not name an object of an installation, or empty when it
// may: valid_entry_name (tic/format/entry_name.h) must accept it, its
// last element must be a name ("a/b", not "a/b/" or "a/."), and not one of
// the names kept for temporaries. Install refuses an archive entry so
// named, and the record of an installation is refused when it names one.
std::string installable_name_problem(const std::string& name);

// Why the tar entry at the start of a stream (tic/archive/stream_decoder.h)
// may not be installed as |name|, or empty when it may: it must carry that
// name, one that installable_name_problem accepts, be a regular file, a
// directory or a symbolic link, and a regular file must hold exactly |listed_size| bytes, the size
// its table entry gives (which the free-space check and space trust).
std::string stream_entry_problem(const std::string& name, const a_stream_entry& entry, uint64_t listed_size);
