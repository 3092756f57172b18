#include "support/laid_out_archive.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/hmac.h"

namespace {

class Bytes {
 public:
  explicit Bytes(bool big_endian) : big_endian_(big_endian) {}

  void number(uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
      const int shift = 8 * (big_endian_ ? size - 1 - i : i);
      out += static_cast<char>((value >> shift) & 0xff);
    }
  }
  void u64(uint64_t value) { number(value, 8); }

  std::string out;

 private:
  bool big_endian_;
};

std::string mac_of(const std::string& key, const std::string& bytes) {
  unsigned char mac[kHmacLength];
  if (hmac_sha256(reinterpret_cast<const unsigned char*>(key.data()), static_cast<int>(key.size()), bytes.data(),
                  bytes.size(), mac) != HmacStatus::kOk)
    throw std::runtime_error("HMAC");
  return std::string(reinterpret_cast<const char*>(mac), sizeof mac);
}

uint64_t index_of(std::vector<std::string>& strings, const std::string& text) {
  auto found = std::find(strings.begin(), strings.end(), text);
  if (found != strings.end()) return static_cast<uint64_t>(found - strings.begin());
  strings.push_back(text);
  return strings.size() - 1;
}

}  // namespace

LaidOutArchive lay_out_archive(const std::vector<LaidOutEntry>& entries, const std::vector<LaidOutOption>& options,
                               bool big_endian, const std::string& key) {
  std::vector<std::string> strings;
  for (const LaidOutEntry& e : entries) strings.push_back(e.name);
  for (const LaidOutOption& o : options) strings.push_back(o.name);
  LaidOutArchive archive;
  Bytes b(big_endian);
  b.out.assign(104, '\0');
  std::vector<uint64_t> offsets;
  for (const LaidOutEntry& e : entries) {
    offsets.push_back(e.stream.empty() ? 0 : b.out.size());
    b.out += e.stream;
  }
  archive.toc_offset = b.out.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const LaidOutEntry& e = entries[i];
    b.out += mac_of(key, e.stream);
    for (uint64_t field : {offsets[i], e.file_size, uint64_t{e.stream.size()}, e.aux_a, e.aux_b, e.mask,
                           e.control_mask, e.aux_c, uint64_t{i}})
      b.u64(field);
  }
  archive.option_offset = b.out.size();
  for (size_t i = 0; i < options.size(); ++i) {
    b.u64(entries.size() + i);
    b.u64(index_of(strings, options[i].description));
    b.u64(options[i].bit);
  }
  archive.string_offset = b.out.size();
  for (const std::string& text : strings) {
    b.number(text.size(), 4);
    b.out += text;
  }
  Bytes header(big_endian);
  header.out = mac_of(key, b.out.substr(archive.toc_offset));
  for (uint64_t field : {archive.toc_offset, uint64_t{entries.size()}, archive.option_offset,
                         uint64_t{options.size()}, archive.string_offset, uint64_t{strings.size()}, uint64_t{0},
                         uint64_t{0}})
    header.u64(field);
  header.number(7254, 4);
  header.out += std::string("\x11\x00\x0b\x00", 4);
  b.out.replace(0, 104, header.out);
  archive.bytes = b.out;
  return archive;
}
