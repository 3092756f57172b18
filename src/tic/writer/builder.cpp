#include "tic/writer/builder.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/fd.h"
#include "platform/ordered_jobs.h"
#include "scan/dir_scan.h"
#include "tic/writer/stream_compressor.h"
#include "tic/writer/writer_steps.h"
#include "tic/format/entry_name.h"
#include "tic/format/format_steps.h"

namespace {

// Streams compressed ahead of the one being written, per job: room for
// the writer to take runs of them while the jobs go on.
constexpr size_t kStreamsAheadPerJob = 8;

std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool is_directory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Appends each compressed stream to the archive in its turn and fills in
// its entry: the streams lie back to back from offset 104.
class a_stream_appender {
 public:
  a_stream_appender(Tic& tic, int descriptor, const std::string& archive)
      : tic_(tic), descriptor_(descriptor), archive_(archive) {}

  Outcome append(a_stream_job& job, TicTocEntry& entry) {
    if (job.failure.failed()) return job.failure;
    if (!job.is_archive) {
      tic_.compression_progress(job.path, job.size, job.mode, done_, 0);
      if (!job.sink->copy_to(descriptor_)) return failure_of(kStepCloseWriter, archive_);
      std::memcpy(entry.mac, job.mac, sizeof entry.mac);
      entry.data_offset = data_offset_;
      entry.file_size = job.size;
      entry.stored_length = job.stored_length;
      data_offset_ += job.stored_length;
      done_ += job.size;
    }
    job.sink.reset();
    return Outcome();
  }

 private:
  Tic& tic_;
  int descriptor_;
  const std::string& archive_;
  unsigned long long done_ = 0;
  uint64_t data_offset_ = TicHeader::kSize;
};

}  // namespace

Outcome TicWriter::compress(Tic& archive, const a_dir_scan_info& scan, bool all) {
  return TicBuilder(archive).compress(scan, all);
}

Outcome TicWriter::write_toc(Tic& archive, bool all) {
  return TicBuilder(archive).write_tables(archive.descriptor(), all);
}

Outcome TicWriter::write_dbversion(Tic& archive, TicHeader& header) {
  return TicBuilder(archive).write_stamp(archive.descriptor(), header);
}

TicBuilder::TicBuilder(Tic& archive) : tic_(archive) { version_.product = archive.product_name(); }

void TicBuilder::set_source_date_epoch(long long epoch) {
  version_.has_source_date_epoch = true;
  version_.source_date_epoch = epoch;
}

void TicBuilder::build_version(TicHeader& header, a_stamp_entries& stamp) const {
  ::build_version(version_, header, stamp);
}

bool TicBuilder::check(const a_dir_scan_info& scan, const std::function<void(const a_build_refusal&)>& refuse,
                       unsigned long long* total) {
  struct stat archive_status;
  const bool archive_exists = tic_.path() != nullptr && stat(tic_.path(), &archive_status) == 0;
  bool good = true;
  for (const auto& [name, scanned] : scan.files) {
    a_build_refusal refusal{a_build_refusal::kEntryName, valid_entry_name(name).failure()};
    struct stat st;
    if (refusal.failure.failed()) {
      refusal.kind = a_build_refusal::kEntryName;
    } else if (name.size() > TicToc::kMaxStringLength) {
      refusal = {a_build_refusal::kNameTooLong, refusal_of(kStepEntryName, name, "name too long")};
    } else if (!scanned.present || lstat(name.c_str(), &st) != 0) {
      if (!scanned.present) errno = ENOENT;
      refusal = {a_build_refusal::kMissing, failure_of(kStepTarEntry, name)};
    } else if ((archive_exists && same_file(st, archive_status)) || S_ISDIR(st.st_mode)) {
      continue;  // a directory is stored when listed, else only scanned
    } else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      refusal = {a_build_refusal::kFileType, refusal_of(kStepOpenFile, name), st.st_mode};
    } else if (tic_.get_toc().file_map.count(name) == 0) {
      fprintf(stderr, "File not in toc: %s\n", name.c_str());
      good = false;
      continue;
    } else {
      if (S_ISREG(st.st_mode)) *total += static_cast<unsigned long long>(st.st_size);
      continue;
    }
    refuse(refusal);
    good = false;
  }
  return good;
}

Outcome TicBuilder::compress(const a_dir_scan_info& scan, bool all) {
  UniqueFd descriptor(tic_.path() == nullptr ? -1
                                             : ::open(tic_.path(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!descriptor.valid()) return failure_of(kStepOpenArchive, archive());
  if (Outcome streams = write_streams(descriptor.get(), scan); !streams) return streams;
  return write_tables(descriptor.get(), all);
}

Outcome TicBuilder::write_streams(int descriptor, const a_dir_scan_info& scan) {
  const std::string archive = this->archive();
  // Every path must have its entry before anything is compressed; a listed
  // directory is stored, any other is only the way to its members (a
  // directory named by a path list is as good as one met in a tree).
  std::vector<a_stream_job> jobs;
  std::vector<TicTocEntry*> entries;
  for (const auto& [path, scanned] : scan.files) {
    auto found = tic_.get_toc().file_map.find(path);
    if (found != tic_.get_toc().file_map.end()) {
      jobs.emplace_back().path = path;
      entries.push_back(&found->second);
    } else if (!scanned.directory && !is_directory(path) && !tic_.compressing_me(path)) {
      fprintf(stderr, "File not in toc: %s\n", path.c_str());
      return refusal_of(kStepNotInToc, path);
    }
  }
  // The header's place stays zero until everything else is written.
  if (::lseek(descriptor, TicHeader::kSize, SEEK_SET) != static_cast<off_t>(TicHeader::kSize))
    return failure_of(kStepSeekFirstStream, archive);

  a_stream_settings settings;
  settings.key = tic_.has_key() ? tic_.key() : nullptr;
  settings.key_length = tic_.has_key() ? tic_.key_length() : 0;
  settings.archive = archive;
  settings.spill_directory = directory_of(archive);
  settings.has_source_date_epoch = version_.has_source_date_epoch;
  settings.source_date_epoch = version_.source_date_epoch;
  settings.compression = compression_;
  settings.zstd_level = zstd_level_;
  struct stat archive_status;
  if (fstat(descriptor, &archive_status) == 0) {
    settings.archive_device = archive_status.st_dev;
    settings.archive_inode = archive_status.st_ino;
  }
  // Every stream is written whole or the build ends, so the next one starts
  // where the last one stopped.
  a_stream_appender appender(tic_, descriptor, archive);
  Outcome appended;
  run_ordered_jobs(
      jobs.size(), jobs_, kStreamsAheadPerJob * jobs_,
      [&](size_t i, const a_job_turn& turn) { compress_stream(settings, jobs[i], turn); },
      [&](size_t i) { return (appended = appender.append(jobs[i], *entries[i])).ok(); },
      [&](size_t i) { jobs[i].sink.reset(); });
  return appended;
}

Outcome TicBuilder::write_tables(int descriptor, bool all) {
  TicHeader header;
  a_stamp_entries stamp;
  build_version(header, stamp);
  tic_.set_product_name(stamped_product_name(tic_.product_name()));
  // A stamp block that could not be written whole means the disk refuses
  // data; the tables would not fare better.
  if (Outcome stamped = write_stamp(descriptor, header); !stamped) return stamped;
  if (!tic_.get_toc().write(descriptor, header, all) || fsync(descriptor) != 0)
    return failure_of(kStepFinish, archive());
  if (header.toc_offset > static_cast<uint64_t>(INT64_MAX) ||
      tic_.compute_mac(static_cast<long long>(header.toc_offset), header.mac, sizeof header.mac) != 0)
    return failure_of(kStepFinish, archive());
  std::string bytes;
  header.encode_to(&bytes);
  if (pwrite_full(descriptor, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    return failure_of(kStepFinish, archive());
  return Outcome();
}

Outcome TicBuilder::write_stamp(int descriptor, TicHeader& header) {
  char block[kStampDataSize];
  size_t length = 0;
  if (!compose_version_block(version_, header, block, &length)) return failure_of(kStepFinish, archive());
  // Offsets and the written length are stored widened with sign, so a failed
  // seek or write shows in the header as all ones.
  const off_t position = ::lseek(descriptor, 0, SEEK_CUR);
  header.version_offset = static_cast<uint64_t>(static_cast<int64_t>(position));
  const ssize_t written = write_full(descriptor, block, length);
  header.version_length = static_cast<uint64_t>(static_cast<int64_t>(written));
  if (written != static_cast<ssize_t>(length)) return failure_of(kStepFinish, archive());
  return Outcome();
}
