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
#include "platform/unique.h"
#include "scan/dir_scan.h"
#include "stamp/dbversion_writer.h"
#include "tic/error.h"
#include "tic/stream_support.h"
#include "tic/tic.h"

namespace {

// The writer hands tic_write whole blocks of kIoBlockSize, and one last
// block of whatever remains, unpadded: tic_write accepts no larger block.
static_assert(kIoBlockSize <= INT32_MAX);

// Product names whose archives carry the version 1.0.0 build 4716; the core
// product is stamped under the name of the whole.
constexpr char kNimbrel[] = "nimbrel";
constexpr char kNimbrelCore[] = "nimbrel_core";

// Freeing a writer closes it first, which flushes the compressor's last
// output through tic_write and finishes the MAC in tic_close.
using Writer = Unique<struct archive, archive_write_free>;
using Entry = Unique<struct archive_entry, archive_entry_free>;

// What libarchive said about a writer's failure, if anything.
std::string writer_message(struct archive* a) {
  const char* message = archive_error_string(a);
  return message != nullptr ? message : "";
}

Writer fail_writer(unsigned step, const std::string& archive) {
  record_error(step, archive);
  return nullptr;
}

// A writer for one stream: bzip2, pax, kIoBlockSize blocks with an unpadded
// last block, opened on |support| through the archive's callbacks.
Writer open_stream_writer(a_tic_support* support, const std::string& archive) {
  Writer writer(archive_write_new());
  if (!writer) return fail_writer(kStepWriterNew, archive);
  struct archive* a = writer.get();
  if (archive_write_add_filter_bzip2(a) != ARCHIVE_OK) return fail_writer(kStepBzip2Filter, archive);
  if (archive_write_set_format_pax(a) != ARCHIVE_OK) return fail_writer(kStepPaxFormat, archive);
  if (archive_write_set_bytes_per_block(a, static_cast<int>(kIoBlockSize)) != ARCHIVE_OK)
    return fail_writer(kStepBlockSize, archive);
  if (archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK) return fail_writer(kStepLastBlockSize, archive);
  if (archive_write_open(a, support, tic_open, tic_write, tic_close) != ARCHIVE_OK)
    return fail_writer(kStepWriterOpen, archive);
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

  const std::string archive = tic.path() != nullptr ? tic.path() : "";
  Writer writer = open_stream_writer(&support, archive);
  if (!writer) return false;

  const off_t data_offset = ::lseek(tic.descriptor(), 0, SEEK_CUR);

  Entry entry(archive_entry_new());
  if (!entry) return record_failure(kStepTarEntry, path);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return record_failure(kStepTarEntry, path);
  archive_entry_copy_stat(entry.get(), &st);
  archive_entry_set_pathname(entry.get(), path.c_str());

  const bool is_link = S_ISLNK(st.st_mode);
  if (is_link) {
    char target[kIoBlockSize];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n >= static_cast<ssize_t>(sizeof target)) errno = ENAMETOOLONG;
    if (n < 1 || n >= static_cast<ssize_t>(sizeof target)) return record_failure(kStepReadLink, path);
    target[n] = '\0';
    archive_entry_set_symlink(entry.get(), target);
  }

  if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
    return record_failure(kStepTarHeader, path, writer_message(writer.get()));

  const unsigned long long size = static_cast<unsigned long long>(st.st_size);
  tic.compression_progress(path, size, archive_entry_mode(entry.get()), done, 0);

  if (!is_link && tic.archive_file_contents(path, writer.get()) != 0) {
    // Keep what the copy named: the input file, or the archive when the
    // compressor's output could not be written.
    const std::string subject = error_subject();
    return record_failure(kStepContents, subject);
  }

  if (archive_write_free(writer.release()) != ARCHIVE_OK) return record_failure(kStepCloseWriter, archive);

  std::memcpy(toc_entry.mac, support.mac, sizeof toc_entry.mac);
  toc_entry.data_offset = static_cast<uint64_t>(data_offset);
  toc_entry.file_size = size;
  toc_entry.stored_length = support.count;
  done += size;
  return ERROR == 0;
}

}  // namespace

int Tic::compress(const a_dir_scan_info* scan, bool all) {
  const std::string archive = path_ != nullptr ? path_ : "";
  descriptor_.reset(path_ == nullptr ? -1 : ::open(path_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!descriptor_.valid()) {
    record_error(kStepOpenArchive, archive);
    return 1;
  }
  // The header's place stays zero until everything else is written.
  if (::lseek(descriptor_.get(), TicHeader::kSize, SEEK_SET) != static_cast<off_t>(TicHeader::kSize)) {
    record_error(kStepSeekFirstStream, archive);
  } else {
    bool streams_written = true;
    unsigned long long done = 0;
    for (const auto& scanned : scan->files) {
      const std::string& path = scanned.first;
      if (compressing_me(path)) continue;
      auto found = toc_.file_map.find(path);
      if (found == toc_.file_map.end()) {
        fprintf(stderr, "File not in toc: %s\n", path.c_str());
        record_error_word(kErrorNotInToc, path);
        streams_written = false;
        break;
      }
      if (!archive_one_file(*this, path, found->second, done)) {
        streams_written = false;
        break;
      }
    }
    if (streams_written && write_toc(all) != 0) record_error(kStepFinish, archive);
  }
  descriptor_.reset();
  return ERROR != 0 ? 1 : 0;
}

int Tic::archive_file_contents(const std::string& path, struct archive* writer) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    record_error(kStepOpenFile, path);
    return -1;
  }
  char buffer[kIoBlockSize];
  for (;;) {
    const ssize_t n = read_full(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      record_error(kStepReadFile, path);
      break;
    }
    if (archive_write_data(writer, buffer, static_cast<size_t>(n)) != n) {
      // The compressor's output goes to the archive: a failure here is the
      // archive's (a full disk), not the input file's.
      record_error(kStepWriteData, path_ != nullptr ? path_ : "");
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

int Tic::write_dbversion(TicHeader& header) {
  a_stamp_version version;
  version.product = product_name_;
  version.major = header.major;
  version.minor = header.minor;
  version.patch = header.patch;
  version.build = header.build;
  char block[kStampDataSize];
  const size_t length = compose_archive_stamp(version, time(nullptr), block);

  // Offsets and the written length are stored widened with sign, so a failed
  // seek or write shows in the header as all ones.
  const off_t position = ::lseek(descriptor_.get(), 0, SEEK_CUR);
  header.version_offset = static_cast<uint64_t>(static_cast<int64_t>(position));
  const ssize_t written = write_full(descriptor_.get(), block, length);
  header.version_length = static_cast<uint64_t>(static_cast<int64_t>(written));
  return written == static_cast<ssize_t>(length) ? 0 : -1;
}
