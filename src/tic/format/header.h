// The 104-byte header at offset 0 of every TIC archive.
//
// Layout (native byte order of the writer):
//   0  mac[32]          HMAC-SHA-256 over [toc_offset, end of file)
//   32 toc_offset       entry table; also the byte-order probe
//   40 entry_count      104-byte entry records
//   48 option_offset    option table
//   56 option_count     24-byte option records
//   64 string_offset    string table (ends the file)
//   72 string_count
//   80 version_offset   version stamp block
//   88 version_length
//   96 build, 100 major, 101 minor, 102 patch, 103 padding
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_span.h"
#include "platform/failure.h"

struct TicHeader {
  static constexpr size_t kSize = 104;

  unsigned char mac[32];
  uint64_t toc_offset;
  uint64_t entry_count;
  uint64_t option_offset;
  uint64_t option_count;
  uint64_t string_offset;
  uint64_t string_count;
  uint64_t version_offset;
  uint64_t version_length;
  uint32_t build;
  uint8_t major;
  uint8_t minor;
  uint8_t patch;
  uint8_t padding;

  // Table fields zero and version 17.0.11 build 7254. The MAC, the version
  // block fields and the padding start zeroed so that a written header never
  // carries stray memory; readers overwrite all 104 bytes from the file.
  TicHeader();

  // True when the archive was written in the other byte order: the reversed
  // toc_offset is smaller than the value as read (a real offset is small, so
  // its reversal is huge unless the bytes really are reversed).
  bool is_opposite_endian() const;

  // Reverses the eight 64-bit fields and build; mac, the version bytes and
  // the padding are single bytes and stay as they are.
  void swap_endian();

  // Takes the 104 header bytes from the front of |in| and brings them into
  // this machine's byte order; |*swap| tells whether they had to be
  // reversed. A failure of kStepHeader when |in| holds fewer.
  Outcome decode_from(ByteSpan* in, bool* swap);
  // Appends the 104 header bytes to |out|, in this machine's byte order.
  void encode_to(std::string* out) const;
};

static_assert(sizeof(TicHeader) == TicHeader::kSize, "TicHeader must be 104 bytes");
// Each table's offset beside its count, then the stamp block's place and
// the version.
static_assert(offsetof(TicHeader, mac) == 0);
static_assert(offsetof(TicHeader, toc_offset) == 32 && offsetof(TicHeader, entry_count) == 40);
static_assert(offsetof(TicHeader, option_offset) == 48 && offsetof(TicHeader, option_count) == 56);
static_assert(offsetof(TicHeader, string_offset) == 64 && offsetof(TicHeader, string_count) == 72);
static_assert(offsetof(TicHeader, version_offset) == 80 && offsetof(TicHeader, version_length) == 88);
static_assert(offsetof(TicHeader, build) == 96 && offsetof(TicHeader, major) == 100 &&
              offsetof(TicHeader, minor) == 101 && offsetof(TicHeader, patch) == 102);
