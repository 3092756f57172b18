#include "support/stream_forge.h"

#include <archive.h>
#include <archive_entry.h>

#include <locale.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "crypto/hmac.h"
#include "crypto/record_transform.h"
#include "platform/unique.h"
#include "support/archive_writer.h"

namespace {

void must(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// The thread's character set is UTF-8 while the object lives, as for a tar
// run in a UTF-8 locale: names are written to pax headers as they are.
class Utf8Characters {
 public:
  Utf8Characters() : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {
    if (utf8_ != nullptr) saved_ = uselocale(utf8_);
  }
  ~Utf8Characters() {
    if (utf8_ != nullptr) {
      uselocale(saved_);
      freelocale(utf8_);
    }
  }

 private:
  locale_t utf8_;
  locale_t saved_ = nullptr;
};

// Writes |e| as a pax stream through |filter| (ARCHIVE_FILTER_NONE: none).
std::string write_entry(const ForgedEntry& e, int filter) {
  const Utf8Characters characters;
  // Declared before the writer, which writes into it until it is freed.
  std::vector<char> out(e.contents.size() + e.contents.size() / 8 + (1 << 16));
  Unique<struct archive, archive_write_free> a(archive_write_new());
  must(archive_write_add_filter(a.get(), filter) == ARCHIVE_OK, "filter");
  must(archive_write_set_format_pax(a.get()) == ARCHIVE_OK, "pax");
  must(archive_write_set_bytes_in_last_block(a.get(), 1) == ARCHIVE_OK, "last block");
  size_t used = 0;
  must(archive_write_open_memory(a.get(), out.data(), out.size(), &used) == ARCHIVE_OK, "open");
  Unique<struct archive_entry, archive_entry_free> entry(archive_entry_new());
  archive_entry_set_pathname(entry.get(), e.pathname.c_str());
  archive_entry_set_mode(entry.get(), e.type | e.mode);
  if (!e.symlink.empty()) archive_entry_set_symlink(entry.get(), e.symlink.c_str());
  if (!e.hardlink.empty()) {
    archive_entry_set_hardlink(entry.get(), e.hardlink.c_str());
    archive_entry_set_size(entry.get(), 0);
  } else {
    archive_entry_set_size(entry.get(), e.type == AE_IFREG ? static_cast<la_int64_t>(e.contents.size()) : 0);
  }
  // A warning: a name that is not UTF-8, written as raw bytes.
  const int header = archive_write_header(a.get(), entry.get());
  must(header == ARCHIVE_OK || header == ARCHIVE_WARN, "header");
  if (e.hardlink.empty() && e.type == AE_IFREG && !e.contents.empty())
    must(archive_write_data(a.get(), e.contents.data(), e.contents.size()) ==
             static_cast<la_ssize_t>(e.contents.size()),
         "data");
  must(archive_write_close(a.get()) == ARCHIVE_OK, "close");
  return std::string(out.data(), used);
}

la_ssize_t append_to(struct archive*, void* out, const void* bytes, size_t length) {
  static_cast<std::string*>(out)->append(static_cast<const char*>(bytes), length);
  return static_cast<la_ssize_t>(length);
}

}  // namespace

ForgedEntry forged_node(const std::string& name, unsigned type) {
  ForgedEntry e(name, "", type == 0120000 ? 0777u : 0644u);
  e.type = type;
  return e;
}

ForgedEntry forged_link(const std::string& name, const std::string& target) {
  ForgedEntry e = forged_node(name, 0120000);
  e.symlink = target;
  return e;
}

ForgedEntry forged_directory(const std::string& name, unsigned permissions) {
  ForgedEntry e(name, "", permissions);
  e.type = 040000;
  return e;
}

std::string tar_stream(const ForgedEntry& entry) { return write_entry(entry, ARCHIVE_FILTER_NONE); }

std::string compress_pieces(const std::string& data, int filter, size_t piece_size, int level) {
  std::string out;
  for (size_t at = 0; at < data.size(); at += piece_size) {
    Unique<struct archive, archive_write_free> a(archive_write_new());
    must(archive_write_add_filter(a.get(), filter) == ARCHIVE_OK, "filter");
    must(archive_write_set_filter_option(a.get(), nullptr, "compression-level", std::to_string(level).c_str()) ==
             ARCHIVE_OK,
         "level");
    must(archive_write_set_format_raw(a.get()) == ARCHIVE_OK, "raw");
    must(archive_write_set_bytes_in_last_block(a.get(), 1) == ARCHIVE_OK, "last block");
    must(archive_write_open(a.get(), &out, nullptr, append_to, nullptr) == ARCHIVE_OK, "open");
    Unique<struct archive_entry, archive_entry_free> entry(archive_entry_new());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_pathname(entry.get(), "piece");
    must(archive_write_header(a.get(), entry.get()) == ARCHIVE_OK, "header");
    const size_t n = std::min(piece_size, data.size() - at);
    must(archive_write_data(a.get(), data.data() + at, n) == static_cast<la_ssize_t>(n), "data");
    must(archive_write_close(a.get()) == ARCHIVE_OK, "close");
  }
  return out;
}

std::string zstd_frame_with_window(const std::string& data, unsigned window_log) {
  // The magic; a descriptor without content size, checksum or dictionary;
  // the window descriptor (its exponent over 2^10, no mantissa).
  std::string frame("\x28\xb5\x2f\xfd\x00", 5);
  frame.push_back(static_cast<char>((window_log - 10) << 3));
  const size_t block = 64 * 1024;
  size_t at = 0;
  do {
    const size_t n = std::min(block, data.size() - at);
    // Block header, 3 bytes little-endian: last-block bit, type 0 (raw), size.
    const uint32_t header = (static_cast<uint32_t>(n) << 3) | (at + n == data.size() ? 1u : 0u);
    for (int i = 0; i < 3; ++i) frame.push_back(static_cast<char>((header >> (8 * i)) & 0xff));
    frame.append(data, at, n);
    at += n;
  } while (at < data.size());
  return frame;
}

ForgedStream forge_stream(const ForgedEntry& entry, const std::string& key) {
  ForgedStream result;
  result.stored = (entry.compressed.empty() ? write_entry(entry, ARCHIVE_FILTER_BZIP2) : entry.compressed) +
                  entry.trailer;
  const auto* key_bytes = reinterpret_cast<const unsigned char*>(key.data());
  const int key_length = static_cast<int>(key.size());
  if (!key.empty()) {
    result.stored.resize((result.stored.size() + 7) / 8 * 8, '\0');
    an_encrypt_data state;
    __Encrypt_init(&state, ENCRYPT_WRITING, key_bytes, key_length);
    __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(&result.stored[0]),
                        static_cast<unsigned>(result.stored.size()));
  }
  unsigned char mac[kHmacLength];
  must(hmac_sha256(key_bytes, key_length, result.stored.data(), result.stored.size(), mac) == HmacStatus::kOk,
       "mac");
  result.mac.assign(reinterpret_cast<char*>(mac), sizeof mac);
  return result;
}

void write_forged_archive(const std::string& path, const std::vector<ForgedEntry>& entries, const std::string& key,
                          const std::string& option) {
  TicToc toc;
  std::map<std::string, std::string> payloads;
  for (const ForgedEntry& entry : entries) {
    const ForgedStream stream = forge_stream(entry, key);
    TicTocEntry& e = toc.file_map[entry.pathname] =
        make_entry(toc.options.option_mask(option), 0,
                   entry.listed_size >= 0 ? static_cast<unsigned long long>(entry.listed_size) : entry.contents.size());
    std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
    payloads[entry.pathname] = stream.stored;
  }
  write_test_archive(path, toc, true, payloads);
  write_test_archive_mac(path, key);
}
