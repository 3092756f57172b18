// The whole-archive integrity code and the per-stream encryption set-up.
#include <fcntl.h>

#include <cstdint>
#include <cstring>

#include "crypto/hmac.h"
#include "crypto/record_transform.h"
#include "platform/fd.h"
#include "tic/stream_support.h"
#include "tic/tic.h"

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

// Compares the header's code with the code of the tables. toc_offset goes
// through the byte-order probe, so an archive written on a machine of the
// other byte order is checked over the same range as on its own machine.
int Tic::validate_mac() const {
  TicHeader header;
  if (pread_full(descriptor_.get(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return -1;
  if (header.is_opposite_endian()) header.swap_endian();
  if (header.toc_offset > static_cast<uint64_t>(INT64_MAX)) return -1;

  unsigned char computed[kHmacLength];
  if (compute_mac(static_cast<long long>(header.toc_offset), computed, sizeof computed) != 0) return -1;
  return std::memcmp(computed, header.mac, sizeof computed);
}

void Tic::init_encryption(a_tic_support* support) const {
  if (has_key()) {
    __Encrypt_init(&support->encryption, support->encryption.direction, key_, key_length_);
  } else {
    support->encryption.direction = ENCRYPT_NONE;
  }
}
