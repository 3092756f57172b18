#include "sign/archive_digest.h"

#include <errno.h>
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/fd.h"
#include "sign/sign_steps.h"
#include "tic/archive/tic.h"
#include "tic/format/toc.h"

namespace {

// The pass reads in blocks of this size: larger than the archive blocks
// elsewhere, so that the hash, not the system calls, sets the pace.
constexpr size_t kPassBlock = 16 * kIoBlockSize;

// Reads the file on |descriptor| from offset 0 to its end in order, giving
// every block to |hash| and to |see| with its offset.
Outcome read_in_order(int descriptor, crypto_generichash_state* hash,
                      const std::function<void(uint64_t, const unsigned char*, size_t)>& see) {
  std::vector<unsigned char> block(kPassBlock);
  uint64_t position = 0;
  for (;;) {
    const ssize_t got = pread_full(descriptor, block.data(), block.size(), position);
    if (got < 0) return failure_of(kStepReadArchive, "");
    if (got == 0) return Outcome();
    crypto_generichash_update(hash, block.data(), static_cast<size_t>(got));
    if (see) see(position, block.data(), static_cast<size_t>(got));
    position += static_cast<uint64_t>(got);
  }
}

// A region of the file that the pass keeps a copy of: [offset, offset +
// length). The pass goes forward, so the copy grows from the front.
struct a_region_copy {
  uint64_t offset = 0;
  uint64_t length = 0;
  std::vector<unsigned char> bytes;

  void see(uint64_t at, const unsigned char* data, size_t size) {
    const uint64_t from = offset + bytes.size();
    const uint64_t to = std::min(offset + length, at + size);
    if (from < at || from >= to) return;
    bytes.insert(bytes.end(), data + (from - at), data + (to - at));
  }
  bool complete() const { return bytes.size() == length; }
};

// The string table, decoded as the pass goes: its length is known only
// from its strings, and each string is at most 1027 bytes, so only the
// string the last block cut is held.
struct a_string_feed {
  TicTocDecoder& decoder;
  uint64_t position;  // the file offset of the next byte to decode
  std::vector<unsigned char> held;
  bool failed = false;

  void see(uint64_t at, const unsigned char* data, size_t size) {
    if (failed || decoder.left(TicTocDecoder::kStrings) == 0) return;
    if (position < at || position >= at + size) return;
    held.insert(held.end(), data + (position - at), data + size);
    position = at + size;
    ByteSpan rest(held.data(), held.size());
    if (!decoder.decode(TicTocDecoder::kStrings, &rest)) failed = true;
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(held.size() - rest.size()));
  }
};

bool decode_copy(TicTocDecoder& decoder, TicTocDecoder::Table table, const a_region_copy& copy) {
  if (!decoder.present(table)) return true;
  ByteSpan bytes(copy.bytes.data(), copy.bytes.size());
  return copy.complete() && decoder.begin(table, bytes.size()) && decoder.decode(table, &bytes) &&
         decoder.finish(table);
}

bool same_tables(const TicToc& a, const TicToc& b) {
  auto same_entry = [](const auto& x, const auto& y) {
    return x.first == y.first && std::memcmp(&x.second, &y.second, sizeof x.second) == 0;
  };
  return a.file_map.size() == b.file_map.size() &&
         std::equal(a.file_map.begin(), a.file_map.end(), b.file_map.begin(), same_entry) &&
         a.options.option_map.size() == b.options.option_map.size() &&
         std::equal(a.options.option_map.begin(), a.options.option_map.end(), b.options.option_map.begin(),
                    same_entry) &&
         a.options.description_map == b.options.description_map;
}

}  // namespace

Result<an_archive_digest> digest_archive(const Tic& archive) {
  TicHeader header;
  bool swap = false;
  ByteSpan loaded(archive.loaded_header(), TicHeader::kSize);
  // All 104 bytes are there: this cannot fail.
  (void)header.decode_from(&loaded, &swap);

  a_region_copy header_copy{0, TicHeader::kSize, {}};
  a_region_copy entries{header.toc_offset, header.toc_offset != 0 ? header.entry_count * TicTocEntry::kSize : 0, {}};
  a_region_copy options{header.option_offset,
                        header.option_offset != 0 ? header.option_count * TicOption::kSize : 0, {}};
  TicToc seen;
  TicTocDecoder decoder(seen, header, swap);
  a_string_feed strings{decoder, header.string_offset, {}};

  crypto_generichash_state hash;
  crypto_generichash_init(&hash, nullptr, 0, kFileHashSize);
  const Outcome read = read_in_order(archive.descriptor(), &hash, [&](uint64_t at, const unsigned char* data, size_t size) {
    header_copy.see(at, data, size);
    entries.see(at, data, size);
    options.see(at, data, size);
    if (decoder.present(TicTocDecoder::kStrings)) strings.see(at, data, size);
  });
  an_archive_digest out;
  crypto_generichash_final(&hash, out.hash, kFileHashSize);
  if (!read) return read.failure().about(archive.path() != nullptr ? archive.path() : "");
  out.same_tables = header_copy.complete() &&
                    std::memcmp(header_copy.bytes.data(), archive.loaded_header(), TicHeader::kSize) == 0 &&
                    !strings.failed && decoder.finish(TicTocDecoder::kStrings) &&
                    decode_copy(decoder, TicTocDecoder::kOptions, options) &&
                    decode_copy(decoder, TicTocDecoder::kEntries, entries) && same_tables(seen, archive.get_toc());
  return out;
}

Outcome digest_file(int descriptor, unsigned char hash[kFileHashSize]) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, kFileHashSize);
  Outcome read = read_in_order(descriptor, &state, nullptr);
  crypto_generichash_final(&state, hash, kFileHashSize);
  return read;
}
