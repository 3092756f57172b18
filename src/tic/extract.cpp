#include "tic/extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "crypto/hmac.h"
#include "platform/fd.h"
#include "platform/unique.h"
#include "tic/backup.h"
#include "tic/entry_name.h"
#include "tic/error.h"
#include "tic/stream_support.h"
#include "tic/tic.h"

namespace {

// Files land only inside the install directory: no absolute names and no
// ".." elements, whatever the archive says.
constexpr int kExtractFlags = ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

using Reader = Unique<struct archive, archive_read_free>;


// Moves what |name| replaces into the backup tree, or marks it as new there.
bool back_up(const std::string& name, const std::string& backup_dir) {
  char backup_path[1024];
  snprintf(backup_path, sizeof backup_path, "%s/%s", backup_dir.c_str(), name.c_str());
  struct stat st;
  if (stat(name.c_str(), &st) != 0) {
    char text[1024];
    snprintf(text, sizeof text, "created as %s\n", name.c_str());
    return write_backup_marker(backup_path, text) == 0 || record_failure(kStepBackupMarker);
  }
  return move_into_backup(name, backup_path) == 0 || record_failure(kStepBackupMove);
}

}  // namespace

bool TicExtractSorter::operator()(const std::string& a, const std::string& b) const {
  auto first = toc_.file_map.find(a);
  auto second = toc_.file_map.find(b);
  if (first == toc_.file_map.end() || second == toc_.file_map.end()) return false;
  if (first->second.data_offset != second->second.data_offset)
    return first->second.data_offset < second->second.data_offset;
  return a < b;
}

int Tic::extract(const std::string& options, const std::string& backup_dir) {
  if (read_toc(false) == -1) {
    record_error(kStepExtractLoadToc);
    return -1;
  }
  const unsigned long long mask = std::as_const(toc_.options).option_mask(options);
  std::vector<std::string> selected;
  unsigned long long total = 0;
  for (const auto& [name, entry] : toc_.file_map) {
    if (entry.data_offset == 0 || (entry.mask & mask) == 0) continue;
    selected.push_back(name);
    total += entry.file_size;
  }
  std::sort(selected.begin(), selected.end(), TicExtractSorter(toc_));

  unsigned long long done = 0;
  for (const std::string& name : selected) {
    const TicTocEntry* entry = find_file(name);
    if (entry == nullptr) continue;
    if (extract_file(name, *entry, backup_dir, done, total)) done += entry->file_size;
    if (ERROR != 0) return -1;
  }
  return 0;
}

bool Tic::extract_file(const std::string& name, const TicTocEntry& entry, const std::string& backup_dir,
                       unsigned long long done, unsigned long long total) {
  a_tic_support support{};
  support.descriptor = seek_file(name);
  support.count = entry.stored_length;
  support.encryption.direction = ENCRYPT_READING;
  init_encryption(&support);

  Reader reader(archive_read_new());
  struct archive* a = reader.get();
  if (a == nullptr) return record_failure(kStepReaderNew);
  if (archive_read_support_filter_bzip2(a) != ARCHIVE_OK) return record_failure(kStepBzip2);
  if (archive_read_support_format_tar(a) != ARCHIVE_OK) return record_failure(kStepTar);
  if (archive_read_open(a, &support, tic_open, tic_read, tic_close) != ARCHIVE_OK)
    return record_failure(kStepReaderOpen);
  struct archive_entry* tar_entry = nullptr;
  if (archive_read_next_header(a, &tar_entry) != ARCHIVE_OK) return record_failure(kStepFirstHeader);

  extraction_progress(name, entry.file_size, archive_entry_mode(tar_entry), done, total);

  // The stream must hold exactly the file its entry names, as a plain
  // relative path; a hard link could reach outside the install directory.
  const char* pathname = archive_entry_pathname(tar_entry);
  if (pathname == nullptr || name != pathname || entry_name_problem(name) != nullptr ||
      archive_entry_hardlink(tar_entry) != nullptr) {
    errno = EPERM;
    return record_failure(kStepWriteEntry);
  }
  if (!backup_dir.empty() && !back_up(name, backup_dir)) return false;
  if (archive_read_extract(a, tar_entry, kExtractFlags) != ARCHIVE_OK) return record_failure(kStepWriteEntry);

  // libarchive need not have read the stream to its end: take up to one more
  // block so the MAC covers every stored byte.
  if (support.count >= 1 && support.count <= kIoBlockSize) {
    unsigned char tail[kIoBlockSize] = {};
    const ssize_t got = read_full(support.descriptor, tail, static_cast<size_t>(support.count));
    if (got < 0) return record_failure(kStepTail);
    if (hmac_add(&support.hash, tail, static_cast<size_t>(got)) != HmacStatus::kOk)
      return record_failure(kStepTail);
    support.count -= static_cast<uint64_t>(got);
  }
  if (archive_read_close(a) != ARCHIVE_OK) return record_failure(kStepReaderClose);
  if (support.count != 0) return record_failure(kStepLeftOver);
  if (memcmp(support.mac, entry.mac, sizeof support.mac) != 0) {
    errno = 0;
    return record_failure(kStepMacMismatch);
  }
  return true;
}
