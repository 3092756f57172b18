// The whole-archive integrity code and the per-stream encryption set-up.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/hmac.h"
#include "crypto/record_transform.h"
#include "platform/fd.h"
#include "tic/archive/archive_steps.h"
#include "tic/archive/stream_support.h"
#include "tic/archive/tic.h"

// HMAC-SHA-256 of the archive file from |offset| to its end. The file is read
// on a descriptor of its own, so the object's descriptor keeps its position.
// A read error ends the data as the end of the file does.
int Tic::compute_mac(long long offset, unsigned char* out, unsigned int out_length) const {
  if (out_length < kHmacLength) return -1;
  std::memset(out, 0, out_length);
  if (path_ == nullptr || offset < 0) return -1;

  UniqueFd fd(::open(path_, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return -1;
  if (!seek_exact(fd.get(), static_cast<uint64_t>(offset))) return -1;

  UT_SHA256_CTX hash;
  if (hmac_begin(&hash, key_, key_length_) != HmacStatus::kOk) return -1;
  unsigned char chunk[kIoBlockSize];
  for (;;) {
    const ssize_t n = read_full(fd.get(), chunk, sizeof chunk);
    if (n <= 0) break;
    if (hmac_add(&hash, chunk, static_cast<size_t>(n)) != HmacStatus::kOk) return -1;
  }
  unsigned char mac[kHmacLength];
  if (hmac_finish(&hash, key_, key_length_, mac) != HmacStatus::kOk) return -1;
  std::memcpy(out, mac, sizeof mac);
  return 0;
}

int Tic::validate() const { return validate_mac(); }

int Tic::validate_mac() const {
  const Result<int> compared = compare_mac();
  return compared ? compared.value() : -1;
}

Outcome Tic::integrity() const {
  const std::string archive = path_ != nullptr ? path_ : "";
  if (!descriptor_.valid()) return read_failure_.failed() ? read_failure_ : refusal_of(kStepNotOpen, archive);
  const Result<int> compared = compare_mac();
  if (!compared) return compared.failure();
  if (compared.value() != 0) return refusal_of(kStepArchiveMac, archive);
  return Outcome();
}

// toc_offset goes through the byte-order probe, so an archive written on a
// machine of the other byte order is checked over the same range as on its
// own machine. Every failure says "cannot compute the archive's MAC".
Result<int> Tic::compare_mac() const {
  const std::string archive = path_ != nullptr ? path_ : "";
  auto cannot = [&archive] { return failure_of(kStepComputeMac, archive, kStepComputeMac.phrase); };
  TicHeader header;
  bool swap;
  if (!read_tic_header(descriptor_.get(), header, &swap)) return cannot();
  if (header.toc_offset > static_cast<uint64_t>(INT64_MAX)) return cannot();

  unsigned char computed[kHmacLength];
  if (compute_mac(static_cast<long long>(header.toc_offset), computed, sizeof computed) != 0) return cannot();
  return std::memcmp(computed, header.mac, sizeof computed);
}

void Tic::init_encryption(a_tic_support* support) const {
  init_stream_encryption(support, support->encryption.direction, key_, key_length_);
}

namespace {

// One stream of the archive while its code is computed.
struct a_stream_range {
  uint64_t start;
  uint64_t end;
  const std::string* name;
  const TicTocEntry* entry;
};

// A stream begun and not yet finished, with its running code: only these
// carry a hash state.
struct an_open_stream {
  const a_stream_range* range;
  UT_SHA256_CTX hash;
};

// The streams of |toc| in the order they lie; a failure about the first
// that lies outside the archive of |file_size| bytes.
Outcome lay_out_streams(const TicToc& toc, uint64_t file_size, std::vector<a_stream_range>& ranges) {
  for (const auto& [name, entry] : toc.file_map) {
    if (entry.data_offset == 0) continue;
    if (entry.data_offset < TicHeader::kSize || entry.stored_length > file_size ||
        entry.data_offset > file_size - entry.stored_length)
      return refusal_of(kStepSeekData, name, "stream lies outside the archive");
    ranges.push_back({entry.data_offset, entry.data_offset + entry.stored_length, &name, &entry});
  }
  // Sorted in place; streams that start together go by name.
  std::sort(ranges.begin(), ranges.end(), [](const a_stream_range& a, const a_stream_range& b) {
    return a.start != b.start ? a.start < b.start : *a.name < *b.name;
  });
  return Outcome();
}

// Checks each stream of |open| that ends at |position| against its entry's
// MAC and drops it; a failure about the first that differs.
Outcome finish_streams(std::vector<an_open_stream>& open, uint64_t position, const unsigned char* key,
                       int key_length) {
  for (auto it = open.begin(); it != open.end();) {
    const a_stream_range* r = it->range;
    if (r->end != position) {
      ++it;
      continue;
    }
    unsigned char mac[kHmacLength];
    if (hmac_finish(&it->hash, key, key_length, mac) != HmacStatus::kOk ||
        std::memcmp(mac, r->entry->mac, sizeof mac) != 0)
      return refusal_of(kStepMacMismatch, *r->name);
    it = open.erase(it);
  }
  return Outcome();
}

}  // namespace

// One pass over the streams in the order they lie: each block read feeds
// the code of every stream it belongs to, so the archive is read once however
// the streams are laid out (a damaged table may let streams overlap).
Outcome Tic::validate_streams() {
  const std::string archive = path_ != nullptr ? path_ : "";
  if (read_toc(false) == -1) return failure_of(kStepExtractLoadToc, archive);
  struct stat st;
  if (fstat(descriptor_.get(), &st) != 0) return failure_of(kStepTail, archive);
  std::vector<a_stream_range> ranges;
  if (Outcome laid_out = lay_out_streams(toc_, static_cast<uint64_t>(st.st_size), ranges); !laid_out)
    return laid_out;

  std::vector<an_open_stream> open;
  size_t next = 0;
  uint64_t position = ranges.empty() ? 0 : ranges.front().start;
  unsigned char block[kIoBlockSize];
  while (next < ranges.size() || !open.empty()) {
    if (open.empty() && ranges[next].start > position) position = ranges[next].start;  // a gap
    // Every stream has at least its start in the archive, so the block never
    // runs past the last byte of a stream being read.
    uint64_t until = position + sizeof block;
    for (const an_open_stream& o : open) until = std::min(until, o.range->end);
    if (next < ranges.size() && ranges[next].start > position) until = std::min(until, ranges[next].start);
    while (next < ranges.size() && ranges[next].start == position) {
      const a_stream_range& r = ranges[next++];
      open.push_back({&r, {}});
      if (hmac_begin(&open.back().hash, key_, key_length_) != HmacStatus::kOk) return failure_of(kStepTail, *r.name);
      until = std::min(until, r.end);
    }
    const size_t length = static_cast<size_t>(until - position);
    if (length > 0) {
      if (pread_full(descriptor_.get(), block, length, position) != static_cast<ssize_t>(length))
        return failure_of(kStepTail, *open.front().range->name);
      for (an_open_stream& o : open) hmac_add(&o.hash, block, length);
    }
    position = until;
    if (Outcome finished = finish_streams(open, position, key_, key_length_); !finished) return finished;
  }
  return Outcome();
}
