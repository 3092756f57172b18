#include "support/stream_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>

#include <vector>

#include "crypto/hmac.h"
#include "crypto/record_transform.h"
#include "platform/fd.h"

StoredStream read_stored_stream(const std::string& path, const TicTocEntry& entry, const std::string& key) {
  StoredStream out;
  std::vector<unsigned char> stored(entry.stored_length);
  {
    UniqueFd fd(::open(path.c_str(), O_RDONLY));
    if (pread_full(fd.get(), stored.data(), stored.size(), entry.data_offset) != static_cast<ssize_t>(stored.size())) {
      out.error = "short read of the stored bytes";
      return out;
    }
  }
  const unsigned char* key_bytes = reinterpret_cast<const unsigned char*>(key.data());
  unsigned char mac[kHmacLength];
  hmac_sha256(key_bytes, static_cast<int>(key.size()), stored.data(), stored.size(), mac);
  out.mac.assign(reinterpret_cast<const char*>(mac), sizeof mac);

  if (!key.empty()) {
    an_encrypt_data state;
    __Encrypt_init(&state, ENCRYPT_READING, key_bytes, static_cast<int>(key.size()));
    stored.resize((stored.size() + 7) / 8 * 8, 0);
    __Ins_Mangle_Record(&state, stored.data(), static_cast<unsigned>(stored.size()));
  }

  out.decrypted.assign(reinterpret_cast<const char*>(stored.data()), entry.stored_length);

  struct archive* a = archive_read_new();
  archive_read_support_filter_bzip2(a);
  archive_read_support_filter_zstd(a);
  archive_read_support_format_tar(a);
  if (archive_read_open_memory(a, stored.data(), stored.size()) != ARCHIVE_OK) {
    out.error = archive_error_string(a);
    archive_read_free(a);
    return out;
  }
  struct archive_entry* header;
  int status;
  while ((status = archive_read_next_header(a, &header)) == ARCHIVE_OK) {
    if (++out.entries > 1) continue;
    out.pathname = archive_entry_pathname(header);
    out.mode = archive_entry_mode(header);
    out.size = archive_entry_size(header);
    if (archive_entry_symlink(header) != nullptr) out.symlink = archive_entry_symlink(header);
    char buffer[8192];
    ssize_t n;
    while ((n = archive_read_data(a, buffer, sizeof buffer)) > 0) out.data.append(buffer, static_cast<size_t>(n));
    if (n < 0) out.error = archive_error_string(a);
  }
  if (status != ARCHIVE_EOF) out.error = archive_error_string(a) ? archive_error_string(a) : "bad stream";
  archive_read_free(a);
  return out;
}
