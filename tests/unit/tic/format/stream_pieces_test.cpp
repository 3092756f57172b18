// Where the pieces of a decrypted stream start, with streams and frames
// made by libarchive's own writers.
#include "tic/format/stream_pieces.h"

#include <archive.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/stream_forge.h"

namespace {

const unsigned char* bytes_of(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

// Feeds |stream| to a finder in slices of |slice| bytes, as a reader gets
// it, and returns every start found, cutting there each time.
std::vector<size_t> starts(const std::string& stream, a_compression compression, size_t slice) {
  std::vector<size_t> found;
  PieceFinder finder(compression);
  size_t piece = 0;
  for (size_t have = 0; have < stream.size();) {
    have = std::min(stream.size(), have + slice);
    const size_t at = finder.find(bytes_of(stream) + piece, have - piece);
    if (at == PieceFinder::kNone) continue;
    piece += at;
    found.push_back(piece);
    finder.reset();
    have = piece;
  }
  return found;
}

TEST(StreamPieces, TheCompressionShowsInTheFirstBytes) {
  const std::string bzip2 = compress_pieces("data", ARCHIVE_FILTER_BZIP2, 100);
  const std::string zstd = compress_pieces("data", ARCHIVE_FILTER_ZSTD, 100);
  EXPECT_EQ(compression_of(bytes_of(bzip2), bzip2.size()), a_compression::kBzip2);
  EXPECT_EQ(compression_of(bytes_of(zstd), zstd.size()), a_compression::kZstd);
  EXPECT_EQ(compression_of(bytes_of(bzip2), 9), a_compression::kUnknown) << "too short to tell";
  const std::string tar = tar_stream(ForgedEntry("BZh91AY", "x"));
  EXPECT_EQ(compression_of(bytes_of(tar), tar.size()), a_compression::kUnknown);
  EXPECT_STREQ(compression_name(a_compression::kZstd), "zstd");
}

// Three bzip2 streams: the second is shorter than a piece, so the first
// piece holds two streams; the pattern split across two slices is found.
TEST(StreamPieces, Bzip2PiecesStartAtAStreamHeaderPastTheSmallestPiece) {
  const std::string a = compress_pieces(random_bytes(100000, 1), ARCHIVE_FILTER_BZIP2, 100000);
  const std::string b = compress_pieces(random_bytes(1000, 2), ARCHIVE_FILTER_BZIP2, 100000);
  const std::string c = compress_pieces(random_bytes(70000, 3), ARCHIVE_FILTER_BZIP2, 100000);
  const std::string d = compress_pieces(random_bytes(10, 4), ARCHIVE_FILTER_BZIP2, 100000);
  ASSERT_GE(a.size(), kMinPieceStored);
  const std::string stream = a + b + c + d;
  EXPECT_EQ(starts(stream, a_compression::kBzip2, stream.size()),
            (std::vector<size_t>{a.size(), a.size() + b.size() + c.size()}));
  for (const size_t slice : {a.size() + 3, size_t{4096}, size_t{7}})
    EXPECT_EQ(starts(stream, a_compression::kBzip2, slice), starts(stream, a_compression::kBzip2, stream.size()))
        << "slices of " << slice;
  EXPECT_EQ(starts(b + c, a_compression::kBzip2, 4096), std::vector<size_t>{}) << "c starts within b's first piece";
}

// zstd pieces start at the next frame, found from the frame and block
// headers: a frame magic stored inside a frame's raw block is not a start,
// and a skippable frame goes with the frame before it.
TEST(StreamPieces, ZstdPiecesStartAtTheNextFrame) {
  std::string data = random_bytes(200000, 5);
  const unsigned char magic[] = {0x28, 0xb5, 0x2f, 0xfd, 0x00};
  for (size_t at = 70000; at < 190000; at += 30000) data.replace(at, 5, reinterpret_cast<const char*>(magic), 5);
  const std::string first = compress_pieces(data, ARCHIVE_FILTER_ZSTD, data.size());
  ASSERT_NE(first.find(std::string(reinterpret_cast<const char*>(magic), 4), 100), std::string::npos);
  const std::string skippable = std::string("\x50\x2a\x4d\x18\x03\0\0\0abc", 11);
  const std::string second = compress_pieces(random_bytes(90000, 6), ARCHIVE_FILTER_ZSTD, 90000);
  const std::string third = compress_pieces("tail", ARCHIVE_FILTER_ZSTD, 100);
  const std::string stream = first + skippable + second + third;
  const std::vector<size_t> expected{first.size() + skippable.size(),
                                     first.size() + skippable.size() + second.size()};
  for (const size_t slice : {stream.size(), size_t{4096}, size_t{5}})
    EXPECT_EQ(starts(stream, a_compression::kZstd, slice), expected) << "slices of " << slice;
  EXPECT_EQ(starts(first + std::string(16, '\0') + second, a_compression::kZstd, 4096), std::vector<size_t>{})
      << "no start after what is not a frame";
}

}  // namespace
