// The archive builder: writes a TIC archive from a prepared table of
// contents and a directory scan.
//
// Every scanned file becomes its own stream at the end of what is written so
// far: a bzip2-compressed pax archive of exactly one tar entry, passed through
// tic_write, which encrypts it under the archive key (zero-padding the last
// block to 8 bytes) and feeds the stream's HMAC. The streams lie back to back
// from offset 104 in the scan's byte-wise path order. After the last one come
// the version stamp block and the tables; the header, with the whole-archive
// MAC over the tables, is written last over the 104 zero bytes left at the
// start. A build that fails leaves the file without a header.
#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/fd.h"
#include "scan/dir_scan.h"
#include "tic/error.h"
#include "tic/stream_support.h"
#include "tic/tic.h"

namespace {

// Step codes stored in ERROR.
constexpr unsigned kStepOpenArchive = 0x44a;
constexpr unsigned kStepSeekFirstStream = 0x44d;
constexpr unsigned kStepWriterNew = 0x473;
constexpr unsigned kStepBzip2Filter = 0x474;
constexpr unsigned kStepPaxFormat = 0x475;
constexpr unsigned kStepBlockSize = 0x477;
constexpr unsigned kStepLastBlockSize = 0x479;
constexpr unsigned kStepWriterOpen = 0x47b;
constexpr unsigned kStepEntry = 0x480;
constexpr unsigned kStepReadLink = 0x486;
constexpr unsigned kStepTarHeader = 0x48a;
constexpr unsigned kStepContents = 0x491;
constexpr unsigned kStepCloseWriter = 0x494;
constexpr unsigned kStepFinish = 0x4ab;
constexpr unsigned kStepOpenFile = 0x4bb;
constexpr unsigned kStepReadFile = 0x4c3;
constexpr unsigned kStepWriteData = 0x4c4;

// The writer hands tic_write whole blocks of this size, and one last block
// of whatever remains, unpadded: tic_write accepts no larger block.
constexpr int kBlockSize = 8192;
constexpr size_t kCopySize = 8192;
constexpr size_t kLinkTargetSize = 8192;

// Product names whose archives carry the version 1.0.0 build 4716; the core
// product is stamped under the name of the whole.
constexpr char kNimbrel[] = "nimbrel";
constexpr char kNimbrelCore[] = "nimbrel_core";

struct WriterFree {
  // Freeing closes the writer first, which flushes the compressor's last
  // output through tic_write and finishes the MAC in tic_close.
  void operator()(struct archive* a) const { archive_write_free(a); }
};
using Writer = std::unique_ptr<struct archive, WriterFree>;

struct EntryFree {
  void operator()(struct archive_entry* e) const { archive_entry_free(e); }
};
using Entry = std::unique_ptr<struct archive_entry, EntryFree>;

Writer fail_writer(unsigned step) {
  record_error(step);
  return nullptr;
}

// A writer for one stream: bzip2, pax, 8192-byte blocks with an unpadded
// last block, opened on |support| through the archive's callbacks.
Writer open_stream_writer(a_tic_support* support) {
  Writer writer(archive_write_new());
  if (!writer) return fail_writer(kStepWriterNew);
  struct archive* a = writer.get();
  if (archive_write_add_filter_bzip2(a) != ARCHIVE_OK) return fail_writer(kStepBzip2Filter);
  if (archive_write_set_format_pax(a) != ARCHIVE_OK) return fail_writer(kStepPaxFormat);
  if (archive_write_set_bytes_per_block(a, kBlockSize) != ARCHIVE_OK) return fail_writer(kStepBlockSize);
  if (archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK) return fail_writer(kStepLastBlockSize);
  if (archive_write_open(a, support, tic_open, tic_write, tic_close) != ARCHIVE_OK)
    return fail_writer(kStepWriterOpen);
  return writer;
}

// Writes the stream of |path| at the descriptor's position and fills its
// entry's stream fields. |done| is the sum of the sizes archived before it.
bool archive_one_file(Tic& tic, const std::string& path, TicTocEntry& toc_entry, unsigned long long& done) {
  // The context outlives the writer that points at it.
  a_tic_support support{};
  support.descriptor = tic.descriptor();
  support.count = 0;
  support.encryption.direction = tic.has_key() ? ENCRYPT_WRITING : ENCRYPT_NONE;
  tic.init_encryption(&support);

  Writer writer = open_stream_writer(&support);
  if (!writer) return false;

  const off_t data_offset = ::lseek(tic.descriptor(), 0, SEEK_CUR);

  Entry entry(archive_entry_new());
  if (!entry) return record_failure(kStepEntry);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return record_failure(kStepEntry);
  archive_entry_copy_stat(entry.get(), &st);
  archive_entry_set_pathname(entry.get(), path.c_str());

  const bool is_link = S_ISLNK(st.st_mode);
  if (is_link) {
    char target[kLinkTargetSize];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n >= static_cast<ssize_t>(sizeof target)) errno = ENAMETOOLONG;
    if (n < 1 || n >= static_cast<ssize_t>(sizeof target)) return record_failure(kStepReadLink);
    target[n] = '\0';
    archive_entry_set_symlink(entry.get(), target);
  }

  if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) return record_failure(kStepTarHeader);

  const unsigned long long size = static_cast<unsigned long long>(st.st_size);
  tic.compression_progress(path, size, archive_entry_mode(entry.get()), done, 0);

  if (!is_link && tic.archive_file_contents(path, writer.get()) != 0) return record_failure(kStepContents);

  if (archive_write_free(writer.release()) != ARCHIVE_OK) return record_failure(kStepCloseWriter);

  std::memcpy(toc_entry.mac, support.mac, sizeof toc_entry.mac);
  toc_entry.data_offset = static_cast<uint64_t>(data_offset);
  toc_entry.file_size = size;
  toc_entry.stored_length = support.count;
  done += size;
  return ERROR == 0;
}

}  // namespace

int Tic::compress(const a_dir_scan_info* scan, bool all) {
  descriptor_.reset(path_ == nullptr ? -1 : ::open(path_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!descriptor_.valid()) {
    record_error(kStepOpenArchive);
    return 1;
  }
  // The header's place stays zero until everything else is written.
  if (::lseek(descriptor_.get(), TicHeader::kSize, SEEK_SET) != static_cast<off_t>(TicHeader::kSize)) {
    record_error(kStepSeekFirstStream);
  } else {
    bool streams_written = true;
    unsigned long long done = 0;
    for (const auto& scanned : scan->files) {
      const std::string& path = scanned.first;
      if (compressing_me(path)) continue;
      auto found = toc_.file_map.find(path);
      if (found == toc_.file_map.end()) {
        fprintf(stderr, "File not in toc: %s\n", path.c_str());
        ERROR = -1;
        streams_written = false;
        break;
      }
      if (!archive_one_file(*this, path, found->second, done)) {
        streams_written = false;
        break;
      }
    }
    if (streams_written && write_toc(all) != 0) record_error(kStepFinish);
  }
  descriptor_.reset();
  return ERROR != 0 ? 1 : 0;
}

int Tic::archive_file_contents(const std::string& path, struct archive* writer) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    record_error(kStepOpenFile);
    return -1;
  }
  char buffer[kCopySize];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      record_error(kStepReadFile);
      break;
    }
    if (archive_write_data(writer, buffer, static_cast<size_t>(n)) != n) {
      record_error(kStepWriteData);
      break;
    }
  }
  return ERROR != 0 ? -1 : 0;
}

int Tic::write_toc(bool all) {
  TicHeader header;
  if (product_name_ == kNimbrel || product_name_ == kNimbrelCore) {
    header.major = 1;
    header.minor = 0;
    header.patch = 0;
    header.build = 4716;
    product_name_ = kNimbrel;
  }
  const int fd = descriptor_.get();
  // A stamp block that could not be written whole means the disk refuses
  // data; the tables would not fare better.
  if (write_dbversion(header) != 0) return -1;
  if (!toc_.write(fd, header, all)) return -1;
  if (fsync(fd) != 0) return -1;
  if (header.toc_offset > static_cast<uint64_t>(INT64_MAX)) return -1;
  if (compute_mac(static_cast<long long>(header.toc_offset), header.mac, sizeof header.mac) != 0) return -1;
  if (pwrite_full(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return -1;
  return 0;
}
