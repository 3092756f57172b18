#include "tic/archive/decompressor.h"

#include <bzlib.h>
#include <errno.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/unique.h"

namespace {

// Decoded bytes handed out at a time, as libarchive's filters do.
constexpr size_t kOutBlock = 64 * 1024;
// The shortest bzip2 stream (an empty one): "BZh", the level, the
// end-of-stream magic and the CRC. Fewer bytes after a stream begin none.
constexpr size_t kBzip2StreamMin = 14;

// The blocks libbz2 asks for, kept while the set is: its state and the
// tables of a block, the same few sizes stream after stream.
class a_block_cache {
 public:
  a_block_cache() = default;
  a_block_cache(const a_block_cache&) = delete;
  a_block_cache& operator=(const a_block_cache&) = delete;
  ~a_block_cache() {
    for (const a_block& b : kept_) std::free(b.at);
    for (const a_block& b : lent_) std::free(b.at);
  }

  // The smallest kept block of at least |size| bytes, else a new one.
  void* take(size_t size) {
    auto best = kept_.end();
    for (auto b = kept_.begin(); b != kept_.end(); ++b)
      if (b->size >= size && (best == kept_.end() || b->size < best->size)) best = b;
    a_block block{nullptr, size};
    if (best != kept_.end()) {
      block = *best;
      kept_.erase(best);
    } else {
      block.at = std::malloc(size);
      if (block.at == nullptr) return nullptr;
    }
    lent_.push_back(block);
    return block.at;
  }

  // Keeps the block for the next stream: at most a state and a table, the
  // largest ones.
  void give(void* at) {
    auto lent = std::find_if(lent_.begin(), lent_.end(), [at](const a_block& b) { return b.at == at; });
    if (lent == lent_.end()) return;
    kept_.push_back(*lent);
    lent_.erase(lent);
    if (kept_.size() <= kKept) return;
    auto smallest = std::min_element(kept_.begin(), kept_.end(),
                                     [](const a_block& a, const a_block& b) { return a.size < b.size; });
    std::free(smallest->at);
    kept_.erase(smallest);
  }

  static void* allocate(void* cache, int items, int size) {
    if (items < 0 || size < 0) return nullptr;
    return static_cast<a_block_cache*>(cache)->take(static_cast<size_t>(items) * static_cast<size_t>(size));
  }
  static void release(void* cache, void* at) { static_cast<a_block_cache*>(cache)->give(at); }

 private:
  static constexpr size_t kKept = 3;
  struct a_block {
    void* at;
    size_t size;
  };
  std::vector<a_block> kept_;
  std::vector<a_block> lent_;
};

}  // namespace

// What one decoding needs, kept across streams.
struct a_decoder_set {
  a_block_cache blocks;
  bz_stream bzip2{};
  Unique<ZSTD_DCtx, ZSTD_freeDCtx> zstd;
  std::vector<unsigned char> out = std::vector<unsigned char>(kOutBlock);
};

namespace {

// The decoder sets not in use.
struct a_shelf {
  std::mutex lock;
  std::vector<std::unique_ptr<a_decoder_set>> sets;
};

a_shelf& shelf() {
  static a_shelf the_shelf;
  return the_shelf;
}

std::unique_ptr<a_decoder_set> take_decoders() {
  {
    a_shelf& s = shelf();
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.sets.empty()) {
      std::unique_ptr<a_decoder_set> set = std::move(s.sets.back());
      s.sets.pop_back();
      return set;
    }
  }
  return std::make_unique<a_decoder_set>();
}

// A set goes back without a frame half read.
void put_back(std::unique_ptr<a_decoder_set> set) {
  if (set->zstd) ZSTD_DCtx_reset(set->zstd.get(), ZSTD_reset_session_only);
  a_shelf& s = shelf();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.sets.size() < Decompressor::kKeptDecoders) s.sets.push_back(std::move(set));
}

}  // namespace

Decompressor::Decompressor() = default;

Decompressor::~Decompressor() {
  if (!decoders_) return;
  if (in_stream_ && compression_ == a_compression::kBzip2) end_bzip2_stream();
  put_back(std::move(decoders_));
}

void Decompressor::begin(a_compressed_source& source, a_compression compression) {
  if (decoders_ && in_stream_ && compression_ == a_compression::kBzip2) end_bzip2_stream();
  if (decoders_ && decoders_->zstd) ZSTD_DCtx_reset(decoders_->zstd.get(), ZSTD_reset_session_only);
  source_ = &source;
  compression_ = compression;
  told_ = compression != a_compression::kUnknown;
  ended_ = source_ended_ = in_stream_ = false;
  in_ = nullptr;
  in_left_ = 0;
  taken_ = 0;
  failure_ = a_failure{};
}

// The source's next block, when everything before it is taken.
bool Decompressor::fill() {
  if (in_left_ > 0 || source_ended_) return true;
  const Result<size_t> got = source_->next(&in_);
  if (!got) {
    failure_ = got.failure();
    return false;
  }
  in_left_ = got.value();
  source_ended_ = in_left_ == 0;
  return true;
}

// At least |wanted| bytes not taken, one after another at in_, unless the
// source ends first.
bool Decompressor::look_ahead(size_t wanted) {
  if (in_left_ >= wanted || source_ended_) return true;
  std::vector<unsigned char> joined(in_, in_ + in_left_);
  while (joined.size() < wanted) {
    const unsigned char* bytes = nullptr;
    const Result<size_t> got = source_->next(&bytes);
    if (!got) {
      failure_ = got.failure();
      return false;
    }
    if (got.value() == 0) {
      source_ended_ = true;
      break;
    }
    joined.insert(joined.end(), bytes, bytes + got.value());
  }
  ahead_.swap(joined);
  in_ = ahead_.data();
  in_left_ = ahead_.size();
  return true;
}

void Decompressor::take(size_t n) {
  in_ += n;
  in_left_ -= n;
  taken_ += n;
}

ssize_t Decompressor::fail(const std::string& cause) {
  errno = 0;
  failure_.set(kStepReadData, cause);
  return -1;
}

ssize_t Decompressor::next(const void** data) {
  if (failure_.failed()) return -1;
  if (ended_) return 0;
  if (!told_) {
    if (!look_ahead(kCompressionSniffSize)) return -1;
    compression_ = compression_of(in_, in_left_);
    told_ = true;
  }
  if (compression_ == a_compression::kUnknown) return next_as_is(data);
  if (!decoders_) decoders_ = take_decoders();
  return compression_ == a_compression::kZstd ? next_zstd(data) : next_bzip2(data);
}

ssize_t Decompressor::next_as_is(const void** data) {
  if (!fill()) return -1;
  const size_t n = in_left_;
  *data = in_;
  take(n);
  if (n == 0) ended_ = true;
  return static_cast<ssize_t>(n);
}

void Decompressor::end_bzip2_stream() {
  BZ2_bzDecompressEnd(&decoders_->bzip2);
  in_stream_ = false;
}

// bzip2 streams one after another, as long as the bytes after one begin
// the next; whatever else follows is left untaken.
ssize_t Decompressor::next_bzip2(const void** data) {
  bz_stream& s = decoders_->bzip2;
  unsigned char* out = decoders_->out.data();
  size_t produced = 0;
  while (produced < kOutBlock) {
    if (!in_stream_) {
      if (!look_ahead(kBzip2StreamMin)) return -1;
      if (in_left_ < kBzip2StreamMin || compression_of(in_, in_left_) != a_compression::kBzip2) {
        ended_ = true;
        break;
      }
      s = bz_stream{};
      s.bzalloc = a_block_cache::allocate;
      s.bzfree = a_block_cache::release;
      s.opaque = &decoders_->blocks;
      if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return fail("cannot set up a bzip2 decoder");
      in_stream_ = true;
    }
    if (!fill()) return -1;
    if (in_left_ == 0) return fail("truncated bzip2 data");
    s.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(in_));
    s.avail_in = static_cast<unsigned>(std::min<size_t>(in_left_, 1u << 30));
    s.next_out = reinterpret_cast<char*>(out + produced);
    s.avail_out = static_cast<unsigned>(kOutBlock - produced);
    const unsigned before = s.avail_in;
    const int status = BZ2_bzDecompress(&s);
    take(before - s.avail_in);
    produced = kOutBlock - s.avail_out;
    if (status == BZ_STREAM_END) {
      end_bzip2_stream();
    } else if (status != BZ_OK) {
      end_bzip2_stream();
      return fail(status == BZ_MEM_ERROR ? "out of memory for a bzip2 decoder" : "damaged bzip2 data");
    }
  }
  *data = out;
  return static_cast<ssize_t>(produced);
}

// zstd frames up to the end of the source: anything else fails.
ssize_t Decompressor::next_zstd(const void** data) {
  if (!decoders_->zstd) {
    decoders_->zstd.reset(ZSTD_createDCtx());
    if (!decoders_->zstd ||
        ZSTD_isError(ZSTD_DCtx_setParameter(decoders_->zstd.get(), ZSTD_d_windowLogMax, kMaxZstdWindowLog)))
      return fail("cannot set up a zstd decoder");
  }
  ZSTD_DCtx* z = decoders_->zstd.get();
  ZSTD_outBuffer out{decoders_->out.data(), kOutBlock, 0};
  while (out.pos < out.size) {
    if (!fill()) return -1;
    ZSTD_inBuffer in{in_, in_left_, 0};
    const size_t before = out.pos;
    const size_t hint = ZSTD_decompressStream(z, &out, &in);
    take(in.pos);
    if (ZSTD_isError(hint)) {
      ZSTD_DCtx_reset(z, ZSTD_reset_session_only);
      if (ZSTD_getErrorCode(hint) == ZSTD_error_frameParameter_windowTooLarge)
        return fail("zstd frame needs a window over " + std::to_string(kMaxZstdWindow >> 20) + " MiB");
      return fail(std::string("zstd decoding failed: ") + ZSTD_getErrorName(hint));
    }
    if (in.pos == 0 && out.pos == before) {
      // No progress: the source has ended.
      if (in_stream_ || !source_ended_) return fail("truncated zstd data");
      ended_ = true;
      break;
    }
    in_stream_ = hint != 0;
  }
  *data = out.dst;
  return static_cast<ssize_t>(out.pos);
}
