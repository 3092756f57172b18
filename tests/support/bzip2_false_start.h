// A bzip2 stream that holds the bytes of a stream start ("BZh9" and the
// block magic) inside its compressed data, where no stream starts: the
// case a reader that cuts streams into pieces at such patterns must not be
// fooled by. Made by taking libbz2's own blocks apart at the bit level.
#pragma once

#include <string>

// One bzip2 stream of two blocks, the blocks of |first| and |second| (each
// a bzip2 stream of one block, level 9), which decodes to what they decode
// to one after the other. The second block gets one more Huffman table,
// which no part of the block uses, and whose code lengths are written so
// that "BZh91AY&SY" lies at a byte boundary. Empty when the second block
// cannot take such a table (its alphabet has the wrong parity, or it has
// six tables already): another |second| may.
std::string bzip2_with_false_start(const std::string& first, const std::string& second);
