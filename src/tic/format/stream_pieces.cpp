#include "tic/format/stream_pieces.h"

#include <cstring>

#include "platform/byte_order.h"

namespace {

// A bzip2 stream starts with "BZh" and its level, '1' to '9', then the magic
// of its first block (the digits of pi) or, when empty, the end-of-stream
// magic (the digits of the square root of pi).
constexpr unsigned char kBzip2BlockMagic[6] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
constexpr unsigned char kBzip2EndMagic[6] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
constexpr size_t kBzip2StartSize = 10;

bool is_bzip2_header(const unsigned char* p) { return p[0] == 'B' && p[1] == 'Z' && p[2] == 'h' && p[3] >= '1' && p[3] <= '9'; }

// zstd frames: a frame magic, then the frame header descriptor, which says
// which optional fields follow; skippable frames carry one of sixteen
// magics and their length.
constexpr uint32_t kZstdMagic = 0xFD2FB528;
constexpr uint32_t kZstdSkippableMask = 0xFFFFFFF0;
constexpr size_t kZstdBlockHeaderSize = 3;
constexpr size_t kZstdChecksumSize = 4;

// The size of a frame header whose descriptor is |descriptor|, magic
// included; 0 when the reserved bit is set.
size_t zstd_frame_header_size(unsigned char descriptor) {
  if ((descriptor & 0x08) != 0) return 0;
  const bool single_segment = (descriptor & 0x20) != 0;
  static constexpr size_t kDictionaryIdSize[4] = {0, 1, 2, 4};
  static constexpr size_t kContentSizeSize[4] = {0, 2, 4, 8};
  const unsigned content_flag = descriptor >> 6;
  const size_t content_size = content_flag == 0 && single_segment ? 1 : kContentSizeSize[content_flag];
  return 4 + 1 + (single_segment ? 0 : 1) + kDictionaryIdSize[descriptor & 3] + content_size;
}

}  // namespace

a_compression compression_of(const unsigned char* bytes, size_t size) {
  if (size >= kBzip2StartSize && is_bzip2_header(bytes) &&
      (std::memcmp(bytes + 4, kBzip2BlockMagic, 6) == 0 || std::memcmp(bytes + 4, kBzip2EndMagic, 6) == 0))
    return a_compression::kBzip2;
  if (size >= 4 && load_le32(bytes) == kZstdMagic) return a_compression::kZstd;
  return a_compression::kUnknown;
}

const char* compression_name(a_compression compression) {
  switch (compression) {
    case a_compression::kBzip2: return "bzip2";
    case a_compression::kZstd: return "zstd";
    default: return "unknown";
  }
}

void PieceFinder::reset() {
  at_ = 0;
  place_ = a_place::kFrameStart;
  checksum_ = false;
}

size_t PieceFinder::find(const unsigned char* bytes, size_t size) {
  switch (compression_) {
    case a_compression::kBzip2: return find_bzip2(bytes, size);
    case a_compression::kZstd: return find_zstd(bytes, size);
    default: return kNone;
  }
}

size_t PieceFinder::find_bzip2(const unsigned char* bytes, size_t size) {
  if (at_ < kMinPieceStored) at_ = kMinPieceStored;
  if (size < kBzip2StartSize) return kNone;
  const size_t last = size - kBzip2StartSize;  // the last offset a whole start fits at
  while (at_ <= last) {
    const void* b = std::memchr(bytes + at_, 'B', last - at_ + 1);
    if (b == nullptr) break;
    const size_t p = static_cast<size_t>(static_cast<const unsigned char*>(b) - bytes);
    if (is_bzip2_header(bytes + p) && std::memcmp(bytes + p + 4, kBzip2BlockMagic, 6) == 0) {
      at_ = p + 1;
      return p;
    }
    at_ = p + 1;
  }
  at_ = last + 1;
  return kNone;
}

size_t PieceFinder::find_zstd(const unsigned char* bytes, size_t size) {
  // Has |n| bytes at at_ arrived?
  auto have = [&](uint64_t n) { return at_ <= size && n <= size - at_; };
  for (;;) {
    switch (place_) {
      case a_place::kStopped:
        return kNone;
      case a_place::kFrameStart: {
        if (!have(4)) return kNone;
        const uint32_t magic = load_le32(bytes + at_);
        if (magic == kZstdMagic) {
          if (at_ >= kMinPieceStored) return static_cast<size_t>(at_);
          if (!have(5)) return kNone;
          const size_t header = zstd_frame_header_size(bytes[at_ + 4]);
          if (header == 0) {
            place_ = a_place::kStopped;
            return kNone;
          }
          checksum_ = (bytes[at_ + 4] & 0x04) != 0;
          at_ += header;
          place_ = a_place::kBlock;
        } else if ((magic & kZstdSkippableMask) == kZstdSkippableFrameMagic) {
          if (!have(8)) return kNone;
          at_ += 8 + uint64_t{load_le32(bytes + at_ + 4)};
        } else {
          // Not a frame: what follows is no piece of its own (a writer's
          // padding, or damage the decoder will find).
          place_ = a_place::kStopped;
          return kNone;
        }
        break;
      }
      case a_place::kBlock: {
        if (!have(kZstdBlockHeaderSize)) return kNone;
        const uint32_t header = load_le24(bytes + at_);
        const bool last = (header & 1) != 0;
        const unsigned type = (header >> 1) & 3;
        const uint32_t block_size = header >> 3;
        if (type == 3) {
          place_ = a_place::kStopped;
          return kNone;
        }
        // A run-length block stores its one byte; the others their size.
        at_ += kZstdBlockHeaderSize + (type == 1 ? 1 : block_size);
        if (last) {
          if (checksum_) at_ += kZstdChecksumSize;
          place_ = a_place::kFrameStart;
        }
        break;
      }
    }
  }
}
