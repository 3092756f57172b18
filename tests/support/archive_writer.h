// Test archives written with the project's own table-of-contents writer.
#pragma once

#include <map>
#include <string>

#include "tic/format/header.h"
#include "tic/format/toc.h"

// Writes an archive at |path|: a zeroed header place, then for each name in
// |payloads| (in name order) its bytes as the entry's stored stream (filling
// data_offset and stored_length of |toc|'s entry, which must exist), then
// the tables of |toc| and the header. No MAC is computed. Returns the header
// as written.
TicHeader write_test_archive(const std::string& path, TicToc& toc, bool all,
                             const std::map<std::string, std::string>& payloads = {});

// Gives each entry of |toc| named in |payloads| the MAC of its payload under
// |key|, as the builder gives each stream its own.
void seal_test_streams(TicToc& toc, const std::map<std::string, std::string>& payloads, const std::string& key);

// Gives the archive at |path| its whole-archive MAC, as the builder does once
// the tables are written: HMAC-SHA-256 with |key| (empty: no key) over the
// bytes from toc_offset to the end, stored in the header's first 32 bytes.
// Reads toc_offset in either byte order, so an archive already rewritten in
// the other order gets the MAC its own machine would have given it.
void write_test_archive_mac(const std::string& path, const std::string& key);

// The product's built-in archive key, the one kestrel install and validate use.
std::string product_key();

// Rewrites a native-order archive in the other byte order: every numeric
// field of the header, the entry and option records and the string lengths.
void swap_archive_byte_order(const std::string& path);

// A table of contents entry with the given option mask and stream fields.
TicTocEntry make_entry(unsigned long long mask, unsigned long long data_offset = 0,
                       unsigned long long file_size = 0);

// Writes at |to| the archive at |from| (they may be one path) with the MAC
// its tables hold for the stream of |name| changed, the streams where they
// were and the whole-archive MAC made anew under the product key: every
// stream decodes as before, and that one fails only its own MAC.
void write_with_spoiled_stream_mac(const std::string& from, const std::string& to, const std::string& name);
