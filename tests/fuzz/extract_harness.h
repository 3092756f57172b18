// Extraction of arbitrary streams into a scratch install directory that
// holds symbolic links leading out of it, shared by the extraction targets:
// whatever the streams say, nothing outside the install directory is
// created, changed or removed, and no temporary is left behind.
//
// Input: one byte of switches, then up to four files, each
//   [name length: 1 byte][name][stream length: 2 bytes, big-endian][stream]
// where the stream is the compressed tar data (bzip2 or zstd) as the builder
// makes it before encryption. Switch bit 0 keys the archive (the harness
// then encrypts the streams as the builder would), bit 1 keeps a backup
// tree. Every stream gets its true MAC, so extraction goes all the way to
// putting files in place.
//
// Everything a run needs beyond the input is made once and kept: the
// scratch directory, the in-memory archive, the job pool; the decoders keep
// themselves (tic/archive/decompressor.h).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "crypto/archive_key.h"
#include "crypto/hmac.h"
#include "crypto/record_transform.h"
#include "memory_file.h"
#include "install/install_steps.h"
#include "install/extraction.h"
#include "install/install_directory.h"
#include "platform/ordered_jobs.h"
#include "tic/archive/tic.h"

namespace {

constexpr size_t kMaxFiles = 4;
const char kPrecious[] = "outside the install directory";

// base/root is the install directory; base/outside must never change.
struct a_scratch {
  std::string base, root, outside;

  a_scratch() {
    // In memory where the machine has it: extraction flushes the file
    // system when it succeeds, which on a disk costs more than the run.
    struct stat st;
    std::string pattern = std::string(stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp") +
                          "/kestrel-fuzz-extract-XXXXXX";
    FUZZ_CHECK(mkdtemp(&pattern[0]) != nullptr, "scratch directory");
    base = pattern.c_str();
    root = base + "/root";
    outside = base + "/outside";
    FUZZ_CHECK(mkdir(outside.c_str(), 0755) == 0, "outside directory");
    UniqueFd fd(::open((outside + "/precious").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    FUZZ_CHECK(fd.valid() && write_full(fd.get(), kPrecious, sizeof kPrecious) == sizeof kPrecious, "precious file");
  }

  ~a_scratch() { remove_tree(base); }

  // A fresh install directory with links that lead out of it, the kind an
  // earlier install or anyone else may have left.
  void reset() {
    remove_tree(root);
    FUZZ_CHECK(mkdir(root.c_str(), 0755) == 0, "install directory");
    FUZZ_CHECK(symlink("..", (root + "/up").c_str()) == 0, "link up");
    FUZZ_CHECK(symlink(outside.c_str(), (root + "/abs").c_str()) == 0, "absolute link");
    FUZZ_CHECK(symlink("../outside/precious", (root + "/precious").c_str()) == 0, "link to a file");
    FUZZ_CHECK(mkdir((root + "/d").c_str(), 0755) == 0, "directory");
  }

  static void remove_tree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      chmod(path.c_str(), 0755);
      if (DIR* dir = opendir(path.c_str())) {
        std::vector<std::string> names;
        while (const struct dirent* e = readdir(dir)) {
          if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        }
        closedir(dir);
        for (const std::string& name : names) remove_tree(path + "/" + name);
      }
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }

  // The names directly in |path|.
  static std::vector<std::string> members(const std::string& path) {
    std::vector<std::string> out;
    if (DIR* dir = opendir(path.c_str())) {
      while (const struct dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) out.push_back(e->d_name);
      }
      closedir(dir);
    }
    return out;
  }

  // Aborts when anything outside the install directory changed, or when a
  // temporary is left anywhere below it.
  void check() const {
    const std::vector<std::string> here = members(base);
    FUZZ_CHECK(here.size() == 2, "something was made beside the install directory");
    const std::vector<std::string> out = members(outside);
    FUZZ_CHECK(out.size() == 1 && out[0] == "precious", "something was made outside the install directory");
    char bytes[sizeof kPrecious + 1] = {};
    UniqueFd fd(::open((outside + "/precious").c_str(), O_RDONLY | O_CLOEXEC));
    FUZZ_CHECK(fd.valid() && read_full(fd.get(), bytes, sizeof bytes) == sizeof kPrecious &&
                   std::memcmp(bytes, kPrecious, sizeof kPrecious) == 0,
               "a file outside the install directory changed");
    no_temporaries(root);
  }

  static void no_temporaries(const std::string& path) {
    for (const std::string& name : members(path)) {
      FUZZ_CHECK(name.rfind(InstallDirectory::kTemporaryPrefix, 0) != 0, "a temporary was left behind");
      struct stat st;
      const std::string child = path + "/" + name;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) no_temporaries(child);
    }
  }
};

struct a_file {
  std::string name;
  std::string stream;
};

bool parse(const uint8_t* data, size_t size, unsigned& switches, std::vector<a_file>& files) {
  if (size < 1) return false;
  switches = data[0];
  size_t at = 1;
  while (files.size() < kMaxFiles && at < size) {
    const size_t name_length = data[at++];
    if (size - at < name_length + 2) break;
    a_file f;
    f.name.assign(reinterpret_cast<const char*>(data + at), name_length);
    at += name_length;
    const size_t stream_length = (size_t{data[at]} << 8) | data[at + 1];
    at += 2;
    const size_t taken = stream_length < size - at ? stream_length : size - at;
    f.stream.assign(reinterpret_cast<const char*>(data + at), taken);
    at += taken;
    files.push_back(std::move(f));
  }
  return !files.empty();
}

// Writes the archive of |files| into |archive|: streams from offset 104 in
// the order given, each repeated until it holds at least |repeat_to| bytes,
// then the tables and the header with its MAC.
bool write_archive(MemoryFile& archive, std::vector<a_file>& files, const unsigned char* key, int key_length,
                   size_t repeat_to) {
  archive.assign("", 0);
  const int fd = archive.fd();
  TicToc toc;
  const unsigned long long mask = toc.options.option_mask("o");
  uint64_t offset = TicHeader::kSize;
  for (a_file& f : files) {
    if (f.name.size() > TicToc::kMaxStringLength || toc.file_map.count(f.name) != 0) continue;
    if (!f.stream.empty()) {
      const std::string once = f.stream;
      while (f.stream.size() < repeat_to) f.stream += once;
    }
    if (key != nullptr) {
      f.stream.resize((f.stream.size() + 7) / 8 * 8, '\0');
      an_encrypt_data state;
      __Encrypt_init(&state, ENCRYPT_WRITING, key, key_length);
      __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(&f.stream[0]),
                          static_cast<unsigned>(f.stream.size()));
    }
    TicTocEntry entry;
    entry.mask = mask;
    entry.data_offset = offset;
    entry.stored_length = f.stream.size();
    entry.file_size = f.stream.size();
    if (hmac_sha256(key, key_length, f.stream.data(), f.stream.size(), entry.mac) != HmacStatus::kOk) return false;
    if (pwrite_full(fd, f.stream.data(), f.stream.size(), offset) != static_cast<ssize_t>(f.stream.size()))
      return false;
    offset += f.stream.size();
    toc.file_map.emplace(f.name, entry);
  }
  if (!seek_exact(fd, offset)) return false;
  TicHeader header;
  if (!toc.write(fd, header, true)) return false;
  if (pwrite_full(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  Tic sealer(archive.path().c_str(), false, key, key_length);
  return sealer.compute_mac(static_cast<long long>(header.toc_offset), header.mac, sizeof header.mac) == 0 &&
         pwrite_full(fd, header.mac, sizeof header.mac, 0) == static_cast<ssize_t>(sizeof header.mac);
}

// One run: the archive of the input's files extracted on |pool|'s workers
// into a fresh install directory, then the checks.
int extract_and_check(const uint8_t* data, size_t size, OrderedJobPool& pool, size_t repeat_to) {
  static a_scratch scratch;
  static MemoryFile archive;
  static const ArchiveKey product;
  unsigned switches = 0;
  std::vector<a_file> files;
  if (!parse(data, size, switches, files)) return 0;
  const bool keyed = (switches & 1) != 0;
  const unsigned char* key = keyed ? product.bytes() : nullptr;
  const int key_length = keyed ? product.length() : 0;
  if (!write_archive(archive, files, key, key_length, repeat_to)) return 0;

  scratch.reset();
  {
    // Extraction reaches the install directory through its descriptor
    // alone: the current directory stays outside it.
    UniqueFd root(open(scratch.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    FUZZ_CHECK(root.valid(), "the install directory");
    Tic tic(archive.path().c_str(), false, key, key_length);
    TicExtraction(tic, root.get(), pool).extract("o", (switches & 2) != 0 ? "saved" : "");
  }
  ERROR = 0;  // sticky by design; each input starts afresh
  scratch.check();
  return 0;
}

}  // namespace
