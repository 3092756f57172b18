// The compression of a stored stream, seen in its decrypted bytes, and the
// pieces it is made of.
//
// A stream is compressed with bzip2 or with zstd. The builder writes a
// large file as a run of independent pieces: bzip2 streams one after
// another (a bzip2 reader takes them as one stream), or zstd frames. Each
// piece decodes on its own, so the pieces of one file can be decoded at
// once. PieceFinder tells where the next piece starts; a reader still
// counts a start only when the piece before it decodes to exactly there,
// for a bzip2 start is only a pattern of bytes that compressed data can
// hold too.
#pragma once

#include <cstddef>
#include <cstdint>

enum class a_compression { kUnknown, kBzip2, kZstd };

// How the stream that begins with |bytes| (|size| of them) is compressed:
// a bzip2 stream header ("BZh", the level digit and a block or end-of-stream
// magic) or a zstd frame magic.
a_compression compression_of(const unsigned char* bytes, size_t size);
// "bzip2", "zstd", or "unknown".
const char* compression_name(a_compression compression);

// zstd levels the builder takes, and its default.
constexpr int kMinZstdLevel = 1;
constexpr int kMaxZstdLevel = 22;
constexpr int kDefaultZstdLevel = 9;

// The largest window a zstd frame may declare (8 MiB): readers refuse a
// frame that needs more, and the builder writes none. zstd's own limit is 16
// times larger; a frame the builder writes holds a piece (kZstdPieceSize)
// and never looks further back than that.
constexpr unsigned kMaxZstdWindowLog = 23;

// The first of the sixteen magics of a zstd skippable frame, which a reader
// passes over: the magic, a 32-bit little-endian length, that many bytes.
constexpr uint32_t kZstdSkippableFrameMagic = 0x184D2A50;

// The bytes compression_of needs to tell.
constexpr size_t kCompressionSniffSize = 10;

// The builder's pieces, in bytes of the tar stream each. bzip2 fills a
// level-9 block with at most 900,000 - 19 bytes (after its first run-length
// step, which leaves data without runs of four as it is), so such a piece
// makes one block rather than one and a sliver. zstd frames are larger:
// every frame starts its matches afresh, and its decoding is cheap.
constexpr size_t kBzip2PieceSize = 900000 - 19;
constexpr size_t kZstdPieceSize = 4 * 1024 * 1024;

// What a reader holds of one piece, stored and decoded: twice the largest
// piece the builder writes. A piece beyond either is read on by a single
// decoder instead.
constexpr size_t kMaxPieceStored = 2 * kZstdPieceSize;
constexpr size_t kMaxPieceDecoded = 2 * kZstdPieceSize;

// Pieces shorter than this are not cut: the next start found within it
// belongs to the same piece (a piece may hold several bzip2 streams or
// zstd frames), so that tiny pieces do not cost a task each. The fuzz
// build cuts pieces of a kilobyte, so that its extraction target reaches
// the pieced decoding with streams of a few kilobytes, thousands of times a
// second, and meets more pieces per stream.
#ifdef KESTREL_FUZZ_BUILD
constexpr size_t kMinPieceStored = 1024;
#else
constexpr size_t kMinPieceStored = 64 * 1024;
#endif

// Finds piece starts in a decrypted stream as its bytes arrive.
//   bzip2: "BZh", a level digit and the block magic 0x314159265359;
//   zstd:  the next frame after the current one, found by walking the frame
//          header and block headers (a skippable frame belongs to the piece
//          before it).
class PieceFinder {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  explicit PieceFinder(a_compression compression) : compression_(compression) {}

  // |bytes| holds the first |size| bytes of the current piece (the bytes of
  // earlier calls, and perhaps more). Returns the offset of the next piece's
  // start, at least kMinPieceStored, or kNone when these bytes show none
  // yet. After a start is returned, reset() begins the next piece there.
  size_t find(const unsigned char* bytes, size_t size);
  void reset();

 private:
  size_t find_bzip2(const unsigned char* bytes, size_t size);
  size_t find_zstd(const unsigned char* bytes, size_t size);

  enum class a_place { kFrameStart, kBlock, kStopped };

  a_compression compression_;
  // bzip2: the offset below which every start has been looked for.
  // zstd: the offset of the next frame or block header.
  uint64_t at_ = 0;
  a_place place_ = a_place::kFrameStart;
  bool checksum_ = false;  // the current zstd frame ends in a checksum
};
