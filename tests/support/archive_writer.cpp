#include "support/archive_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "crypto/archive_key.h"
#include "crypto/hmac.h"
#include "platform/fd.h"
#include "platform/byte_order.h"
#include "support/temp_dir.h"
#include "tic/archive/tic.h"

namespace {

void must(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

}  // namespace

TicHeader write_test_archive(const std::string& path, TicToc& toc, bool all,
                             const std::map<std::string, std::string>& payloads) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
  must(fd.valid(), "open archive");
  const std::vector<unsigned char> zero(TicHeader::kSize, 0);
  must(write_full(fd.get(), zero.data(), zero.size()) == static_cast<ssize_t>(zero.size()), "reserve header");
  for (const auto& [name, bytes] : payloads) {
    auto found = toc.file_map.find(name);
    must(found != toc.file_map.end(), "payload without entry");
    found->second.data_offset = static_cast<uint64_t>(::lseek(fd.get(), 0, SEEK_CUR));
    found->second.stored_length = bytes.size();
    must(write_full(fd.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "payload");
  }
  TicHeader header;
  must(toc.write(fd.get(), header, all), "write tables");
  must(pwrite_full(fd.get(), &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header), "header");
  return header;
}

void seal_test_streams(TicToc& toc, const std::map<std::string, std::string>& payloads, const std::string& key) {
  for (const auto& [name, bytes] : payloads) {
    must(hmac_sha256(reinterpret_cast<const unsigned char*>(key.data()), static_cast<int>(key.size()), bytes.data(),
                     bytes.size(), toc.file_map.at(name).mac) == HmacStatus::kOk,
         "stream MAC");
  }
}

void write_test_archive_mac(const std::string& path, const std::string& key) {
  TicHeader header;
  {
    UniqueFd fd(::open(path.c_str(), O_RDONLY));
    must(fd.valid(), "open archive");
    must(pread_full(fd.get(), &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header), "header");
  }
  if (header.is_opposite_endian()) header.swap_endian();
  const Tic tic(path.c_str(), false, reinterpret_cast<const unsigned char*>(key.data()),
                static_cast<int>(key.size()));
  unsigned char mac[sizeof header.mac];
  must(tic.compute_mac(static_cast<long long>(header.toc_offset), mac, sizeof mac) == 0, "compute MAC");
  UniqueFd fd(::open(path.c_str(), O_WRONLY));
  must(fd.valid(), "open archive");
  must(pwrite_full(fd.get(), mac, sizeof mac, 0) == static_cast<ssize_t>(sizeof mac), "write MAC");
}

std::string product_key() {
  const ArchiveKey key;
  return std::string(reinterpret_cast<const char*>(key.bytes()), static_cast<size_t>(key.length()));
}

void swap_archive_byte_order(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR));
  must(fd.valid(), "open archive");
  TicHeader header;
  must(pread_full(fd.get(), &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header), "header");
  for (uint64_t i = 0; i < header.entry_count; ++i) {
    TicTocEntry entry;
    const uint64_t at = header.toc_offset + i * sizeof entry;
    must(pread_full(fd.get(), &entry, sizeof entry, at) == static_cast<ssize_t>(sizeof entry), "entry");
    entry.swap_endian();
    must(pwrite_full(fd.get(), &entry, sizeof entry, at) == static_cast<ssize_t>(sizeof entry), "entry");
  }
  for (uint64_t i = 0; i < header.option_count; ++i) {
    TicOption option;
    const uint64_t at = header.option_offset + i * sizeof option;
    must(pread_full(fd.get(), &option, sizeof option, at) == static_cast<ssize_t>(sizeof option), "option");
    option.swap_endian();
    must(pwrite_full(fd.get(), &option, sizeof option, at) == static_cast<ssize_t>(sizeof option), "option");
  }
  uint64_t at = header.string_offset;
  for (uint64_t i = 0; i < header.string_count; ++i) {
    uint32_t length;
    must(pread_full(fd.get(), &length, sizeof length, at) == static_cast<ssize_t>(sizeof length), "string");
    const uint32_t swapped = reverse_bytes(length);
    must(pwrite_full(fd.get(), &swapped, sizeof swapped, at) == static_cast<ssize_t>(sizeof swapped), "string");
    at += sizeof length + length;
  }
  header.swap_endian();
  must(pwrite_full(fd.get(), &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header), "header");
}

TicTocEntry make_entry(unsigned long long mask, unsigned long long data_offset, unsigned long long file_size) {
  TicTocEntry entry;
  entry.mask = mask;
  entry.data_offset = data_offset;
  entry.file_size = file_size;
  return entry;
}

void write_with_spoiled_stream_mac(const std::string& from, const std::string& to, const std::string& name) {
  TicToc toc = Tic(from.c_str(), false, nullptr, 0).get_toc();
  const std::string bytes = read_file(from);
  std::map<std::string, std::string> streams;
  for (const auto& [entry_name, entry] : toc.file_map)
    if (entry.stored_length > 0) streams[entry_name] = bytes.substr(entry.data_offset, entry.stored_length);
  toc.file_map.at(name).mac[0] ^= 1;
  write_test_archive(to, toc, true, streams);
  write_test_archive_mac(to, product_key());
}
