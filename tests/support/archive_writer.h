// Test archives written with the project's own table-of-contents writer.
#pragma once

#include <map>
#include <string>

#include "tic/header.h"
#include "tic/toc.h"

// Writes an archive at |path|: a zeroed header place, then for each name in
// |payloads| (in name order) its bytes as the entry's stored stream (filling
// data_offset and stored_length of |toc|'s entry, which must exist), then
// the tables of |toc| and the header. No MAC is computed. Returns the header
// as written.
TicHeader write_test_archive(const std::string& path, TicToc& toc, bool all,
                             const std::map<std::string, std::string>& payloads = {});

// Rewrites a native-order archive in the other byte order: every numeric
// field of the header, the entry and option records and the string lengths.
void swap_archive_byte_order(const std::string& path);

// A table of contents entry with the given option mask and stream fields.
TicTocEntry make_entry(unsigned long long mask, unsigned long long data_offset = 0,
                       unsigned long long file_size = 0);
