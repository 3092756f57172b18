// The table of contents in files: the binary tables of an archive on its
// descriptor, and the list file. The forms themselves are tic/format's
// (TicToc::decode_from, encode_to, decode_list); this is where their bytes
// are read and written.
#pragma once

#include <cstdint>

#include "tic/format/toc.h"

// Feeds |table| of the archive open on |descriptor|, |file_size| bytes long,
// to |decoder| (begin() already called) in kIoBlockSize pieces read from
// the table's offset, and finishes it. A record cut by the end of a piece is
// completed by the next; a record is never longer than a piece (a string is
// at most 4 + 1023 bytes), so every read makes progress. The decoder's
// result: false when the table stopped.
bool feed_toc_table(int descriptor, uint64_t file_size, TicTocDecoder& decoder, TicTocDecoder::Table table);
