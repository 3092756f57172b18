// Decoding compressed stream bytes: where the compressed data ends, what a
// damaged, truncated or memory-hungry stream gives, and decoders that go on
// working after a failure, being kept for reuse.
#include "tic/archive/decompressor.h"

#include <archive.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/stream_forge.h"

namespace {

// |bytes| handed out in blocks of |block|.
class Blocks : public a_compressed_source {
 public:
  Blocks(std::string bytes, size_t block) : bytes_(std::move(bytes)), block_(block) {}
  Result<size_t> next(const unsigned char** out) override {
    const size_t n = std::min(block_, bytes_.size() - at_);
    *out = reinterpret_cast<const unsigned char*>(bytes_.data() + at_);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t block_;
  size_t at_ = 0;
};

struct Decoded {
  std::string data;
  std::string failure;  // the cause, empty when the data ended cleanly
  uint64_t taken = 0;
  a_compression compression = a_compression::kUnknown;
};

Decoded decode(const std::string& bytes, size_t block = 8192, a_compression compression = a_compression::kUnknown) {
  Blocks source(bytes, block);
  Decompressor decoder;
  decoder.begin(source, compression);
  Decoded out;
  for (;;) {
    const void* data = nullptr;
    const ssize_t got = decoder.next(&data);
    if (got < 0) out.failure = decoder.failure().cause;
    if (got <= 0) break;
    out.data.append(static_cast<const char*>(data), static_cast<size_t>(got));
  }
  out.taken = decoder.taken();
  out.compression = decoder.compression();
  return out;
}

std::string text(size_t size) {
  std::string out;
  for (size_t i = 0; out.size() < size; ++i) out += "line " + std::to_string(i * 7919 % 100003) + "\n";
  return out.substr(0, size);
}

// bzip2 streams follow one another as long as the bytes after one begin the
// next, in blocks of any size; what follows is left untaken.
TEST(Decompressor, Bzip2StreamsEndWhereNoStreamBegins) {
  const std::string data = text(300000);
  const std::string streams = compress_pieces(data, ARCHIVE_FILTER_BZIP2, 100000, 1);
  for (const size_t block : {size_t{5}, size_t{8192}, streams.size() + 100}) {
    SCOPED_TRACE(block);
    for (const std::string& tail : {std::string(), std::string(20000, '\0'), std::string("BZh91AY&SY"),
                                   std::string("BZh91AY&SY", 10) + std::string(40, 'x')}) {
      const Decoded d = decode(streams + tail, block);
      EXPECT_EQ(d.compression, a_compression::kBzip2);
      if (tail.size() == 50) {
        EXPECT_NE(d.failure, "") << "a stream start followed by no stream";
        continue;
      }
      EXPECT_EQ(d.failure, "");
      EXPECT_EQ(d.data, data);
      EXPECT_EQ(d.taken, streams.size()) << tail.size() << " bytes after the streams";
    }
  }
  EXPECT_EQ(decode(streams.substr(0, streams.size() - 30)).failure, "truncated bzip2 data");
  std::string damaged = streams;
  damaged[damaged.size() / 2] ^= 0x40;
  EXPECT_EQ(decode(damaged).failure, "damaged bzip2 data");
}

// zstd frames, skippable ones among them, to the end of the bytes; a frame
// that declares a window over 8 MiB fails before it is decoded, also when
// the decoder is told the compression, and the next stream decodes on the
// same kept decoders.
TEST(Decompressor, ZstdFramesWithinTheWindowBound) {
  const std::string data = text(200000);
  const std::string frames = compress_pieces(data, ARCHIVE_FILTER_ZSTD, 70000);
  const std::string skippable("\x50\x2a\x4d\x18\x03\x00\x00\x00xyz", 11);
  for (const size_t block : {size_t{3}, size_t{8192}}) {
    const Decoded d = decode(frames + skippable, block);
    EXPECT_EQ(d.compression, a_compression::kZstd);
    EXPECT_EQ(d.failure, "");
    EXPECT_EQ(d.data, data);
    EXPECT_EQ(d.taken, frames.size() + skippable.size());
  }
  EXPECT_EQ(decode(zstd_frame_with_window("small", 23)).data, "small") << "8 MiB is allowed";
  for (const a_compression told : {a_compression::kUnknown, a_compression::kZstd}) {
    const Decoded large = decode(frames + zstd_frame_with_window("large", 27), 8192, told);
    EXPECT_EQ(large.failure, "zstd frame needs a window over 8 MiB");
    EXPECT_EQ(decode(frames).data, data);
  }
  EXPECT_EQ(decode(frames.substr(0, frames.size() - 5)).failure, "truncated zstd data");
  EXPECT_EQ(decode(frames + std::string(8, '\0')).failure.rfind("zstd decoding failed: ", 0), 0u)
      << "zero padding is no frame";
}

// Bytes that begin as neither pass through as they are, for the tar reader
// to judge; so does an empty stream.
TEST(Decompressor, OtherBytesPassThrough) {
  const std::string tar = tar_stream(ForgedEntry("f", "abc"));
  const Decoded d = decode(tar, 1000);
  EXPECT_EQ(d.compression, a_compression::kUnknown);
  EXPECT_EQ(d.data, tar);
  EXPECT_EQ(d.taken, tar.size());
  EXPECT_EQ(decode("").data, "");
  EXPECT_EQ(decode("").failure, "");
}

}  // namespace
