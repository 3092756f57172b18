#include "tic/archive/pieced_stream.h"

#include <errno.h>

#include <algorithm>

namespace {

// Stored bytes read at a time: a multiple of the transform's 8-byte records.
constexpr size_t kReadChunk = 256 * 1024;
static_assert(kReadChunk % 8 == 0);

// Room for the next read of a stream with |left| stored bytes not read:
// no more than they take, in whole records.
size_t read_room(uint64_t left) { return static_cast<size_t>(std::min<uint64_t>(kReadChunk, (left + 7) / 8 * 8)); }

}  // namespace

struct a_piece {
  std::vector<unsigned char> stored;  // decrypted, still compressed
  bool last = false;                  // runs to the end of the stream
  a_shared_task task;
  bool shared = false;   // queued through the turn: wait_for follows
  bool settled = false;  // decoded (or tried)
  bool clean = false;    // decoded to exactly its end
  size_t untaken = 0;    // the last piece's bytes after its compressed data
  std::vector<unsigned char> decoded;
};

namespace {

// How many times its stored size a piece is taken to decode to, at most,
// before its room grows.
constexpr size_t kLikelyRatio = 32;

// A piece's stored bytes, all at once.
class a_memory_source : public a_compressed_source {
 public:
  explicit a_memory_source(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  Result<size_t> next(const unsigned char** bytes) override {
    if (given_) return size_t{0};
    given_ = true;
    *bytes = bytes_.data();
    return bytes_.size();
  }

 private:
  const std::vector<unsigned char>& bytes_;
  bool given_ = false;
};

// Decodes |piece| alone: true when it decodes without error, to at most
// kMaxPieceDecoded bytes, and (unless it is the last) its compressed data
// ends exactly where the piece does. The compression is set, not told
// from the bytes, so the decoded bytes are never taken for compressed ones
// in turn.
bool decode_piece(a_piece& piece, a_compression compression, size_t expected) {
  a_memory_source source(piece.stored);
  Decompressor decoder;
  decoder.begin(source, compression);
  // Room for what the piece most likely decodes to: a piece as the builder
  // cuts them, unless its stored bytes are too few for that.
  piece.decoded.reserve(std::min(expected, kLikelyRatio * piece.stored.size()));
  for (;;) {
    const void* block = nullptr;
    const ssize_t got = decoder.next(&block);
    if (got == 0) break;
    if (got < 0 || static_cast<size_t>(got) > kMaxPieceDecoded - piece.decoded.size()) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    piece.decoded.insert(piece.decoded.end(), bytes, bytes + got);
  }
  piece.untaken = piece.stored.size() - static_cast<size_t>(decoder.taken());
  return piece.last || piece.untaken == 0;
}

}  // namespace

PiecedStream::PiecedStream(a_tic_support& support, const a_job_turn& turn) : support_(support), turn_(turn) {}

PiecedStream::~PiecedStream() {
  for (const std::unique_ptr<a_piece>& piece : pieces_)
    if (piece->shared) turn_.wait_for(piece->task);
}

bool PiecedStream::read_more() {
  const size_t had = pending_.size();
  const size_t room = read_room(support_.count);
  if (room == 0) {
    input_ended_ = true;
    return true;
  }
  pending_.resize(had + room);
  const Result<size_t> got = next_stored(&support_, pending_.data() + had, room);
  pending_.resize(had + (got ? got.value() : 0));
  if (!got) {
    if (!failure_.failed()) failure_ = got.failure();
    return false;
  }
  if (got.value() == 0) input_ended_ = true;
  return true;
}

// Cuts pieces off the pending bytes and shares them, while there is room.
bool PiecedStream::cut() {
  if (!started_) {
    started_ = true;
    while (pending_.size() < kCompressionSniffSize && !input_ended_)
      if (!read_more()) return false;
    compression_ = compression_of(pending_.data(), pending_.size());
    finder_ = PieceFinder(compression_);
    if (compression_ == a_compression::kUnknown) uncut_ = true;
  }
  // Pieces that found no room before go first.
  for (const std::unique_ptr<a_piece>& piece : pieces_) {
    if (piece->shared || piece->settled) continue;
    if (!turn_.share(piece->task)) return true;
    piece->shared = true;
  }
  while (!uncut_) {
    size_t start = finder_.find(pending_.data(), pending_.size());
    while (start == PieceFinder::kNone && !input_ended_ && pending_.size() <= kMaxPieceStored) {
      if (!read_more()) return false;
      start = finder_.find(pending_.data(), pending_.size());
    }
    if (start == PieceFinder::kNone && !input_ended_) {
      uncut_ = true;  // a piece too long to hold
      return true;
    }
    if (pending_.empty()) return true;
    auto piece = std::make_unique<a_piece>();
    if (start == PieceFinder::kNone) {
      piece->stored.swap(pending_);
      piece->last = true;
    } else {
      piece->stored.assign(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(start));
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(start));
      finder_.reset();
    }
    const size_t expected = compression_ == a_compression::kZstd ? kZstdPieceSize : kBzip2PieceSize;
    a_piece* p = piece.get();
    piece->task.run = [p, compression = compression_, expected] { p->clean = decode_piece(*p, compression, expected); };
    piece->shared = turn_.share(piece->task);
    const bool shared = piece->shared;
    const bool last = piece->last;
    pieces_.push_back(std::move(piece));
    // Without room the piece waits here, to be decoded on this thread when
    // its turn comes (or shared later).
    if (!shared || last || pieces_.size() > turn_.share_limit()) return true;
  }
  return true;
}

void PiecedStream::settle(a_piece& piece) {
  if (piece.shared) {
    turn_.wait_for(piece.task);
    piece.shared = false;
  } else if (!piece.settled) {
    piece.task.run();
  }
  piece.settled = true;
}

ssize_t PiecedStream::next(const void** data) {
  for (;;) {
    // The piece handed out by the last call is done with.
    current_.reset();
    if (failure_.failed()) return -1;
    if (single_) return next_from_single_decoder(data);
    if (!cut()) return -1;
    if (pieces_.empty()) {
      if (!uncut_) return 0;
      start_single_decoder();
      continue;
    }
    a_piece& front = *pieces_.front();
    settle(front);
    if (!front.clean) {
      start_single_decoder();
      continue;
    }
    current_ = std::move(pieces_.front());
    pieces_.pop_front();
    any_handed_out_ = true;
    untaken_ += current_->untaken;
    if (current_->decoded.empty()) continue;
    current_->stored = std::vector<unsigned char>();
    *data = current_->decoded.data();
    return static_cast<ssize_t>(current_->decoded.size());
  }
}

// From the first piece not handed out, the rest of the stream goes to one
// decoder: the pieces cut, the pending bytes, then the stored bytes.
void PiecedStream::start_single_decoder() {
  held_.clear();
  for (const std::unique_ptr<a_piece>& piece : pieces_) {
    if (piece->shared) turn_.wait_for(piece->task);
    held_.insert(held_.end(), piece->stored.begin(), piece->stored.end());
  }
  pieces_.clear();
  held_.insert(held_.end(), pending_.begin(), pending_.end());
  pending_.clear();
  pending_.shrink_to_fit();
  uncut_ = true;
  block_.resize(read_room(support_.count));
  // At the start of the stream its compression is told from its first
  // bytes, as any stream's; after a piece, it is the stream's own.
  single_ = std::make_unique<Decompressor>();
  single_->begin(rest_, any_handed_out_ ? compression_ : a_compression::kUnknown);
}

Result<size_t> PiecedStream::a_rest_source::next(const unsigned char** bytes) {
  PiecedStream& s = stream_;
  if (!s.held_given_) {
    s.held_given_ = true;
    if (!s.held_.empty()) {
      *bytes = s.held_.data();
      s.single_given_ += s.held_.size();
      return s.held_.size();
    }
  }
  if (s.block_.empty()) return size_t{0};
  *bytes = s.block_.data();
  Result<size_t> got = next_stored(&s.support_, s.block_.data(), s.block_.size());
  if (got) s.single_given_ += got.value();
  return got;
}

ssize_t PiecedStream::next_from_single_decoder(const void** data) {
  const ssize_t got = single_->next(data);
  if (got < 0 && !failure_.failed()) failure_ = single_->failure();
  return got;
}

Outcome PiecedStream::drain() {
  // What no decoder took: pieces not handed out, bytes not cut, what the
  // single decoder was given beyond the end of its data, and what was
  // never read, and what followed the compressed data of the last piece.
  // As when a single decoder reads the whole stream, at most a block of it
  // may be left.
  uint64_t left = support_.count + pending_.size() + untaken_;
  for (const std::unique_ptr<a_piece>& piece : pieces_) {
    if (piece->shared) turn_.wait_for(piece->task);
    left += piece->stored.size();
  }
  pieces_.clear();
  current_.reset();
  if (single_) {
    const uint64_t given = single_given_ + (held_given_ ? 0 : held_.size());
    if (single_->taken() < given) left += given - single_->taken();
  }
  if (left > kIoBlockSize) return refusal_of(kStepLeftOver, "");
  unsigned char rest[kIoBlockSize];
  for (;;) {
    errno = 0;
    const ssize_t got = read_stored(&support_, rest, sizeof rest);
    if (got < 0) return failure_of(kStepTail, "");
    if (got == 0) return Outcome();
  }
}
