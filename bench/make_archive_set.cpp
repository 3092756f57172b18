// Writes a set of archives with large tables of contents, for measuring
// what every command costs beside its tables.
//
// usage: make_archive_set [--streams | --wide-zstd] <dir> <archives> <entries in all> <options>
//
// Every archive defines all options, in a rotated order, so merging has to
// renumber them; one name in ten appears in two archives. Without --streams
// the entries only claim streams (list, space and options never read them);
// with --streams every entry has a real one: a tiny file of its own, a pax
// tar entry compressed with bzip2 by libarchive, encrypted and sealed with
// the product's key, so that validate, install and verify work on the set.
// With --wide-zstd every entry's stream is a zstd frame that declares a
// 128 MiB window and holds 96 MiB of zeros in a few kilobytes (run-length
// blocks): the archive a decoder's memory bound is measured with.
//
// The archives are laid out here, byte by byte, and not by the project's
// table writer or builder: only the product key, the record transform and
// HMAC-SHA-256 come from the project's crypto layer. The archives are
// written one per process, in parallel.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "crypto/archive_key.h"
#include "crypto/hmac.h"
#include "crypto/record_transform.h"

namespace {

constexpr uint64_t kHeaderSize = 104;
constexpr uint64_t kEntrySize = 104;
constexpr uint64_t kOptionSize = 24;

void put64(std::string& out, uint64_t value) { out.append(reinterpret_cast<const char*>(&value), sizeof value); }
void put32(std::string& out, uint32_t value) { out.append(reinterpret_cast<const char*>(&value), sizeof value); }
void set64(std::string& out, size_t at, uint64_t value) { std::memcpy(&out[at], &value, sizeof value); }

[[noreturn]] void die(const std::string& what) {
  fprintf(stderr, "make_archive_set: %s\n", what.c_str());
  exit(1);
}

struct an_entry {
  unsigned long long mask = 0;
  uint64_t data_offset = 0;
  uint64_t file_size = 0;
  uint64_t stored_length = 0;
  unsigned char mac[kHmacLength] = {};
};

std::string sealed(std::string stored, const unsigned char* key, int key_length);

// The stored bytes of one file: |contents| under |name| as a bzip2 pax tar
// stream (level 1, as tiny files are written), encrypted with |key|.
std::string stored_stream(const std::string& name, const std::string& contents, const unsigned char* key,
                          int key_length) {
  std::vector<char> out(contents.size() + 64 * 1024);
  size_t used = 0;
  struct archive* a = archive_write_new();
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, name.c_str());
  archive_entry_set_mode(entry, AE_IFREG | 0644);
  archive_entry_set_size(entry, static_cast<la_int64_t>(contents.size()));
  if (archive_write_add_filter_bzip2(a) != ARCHIVE_OK ||
      archive_write_set_filter_option(a, "bzip2", "compression-level", "1") != ARCHIVE_OK ||
      archive_write_set_format_pax(a) != ARCHIVE_OK || archive_write_set_bytes_in_last_block(a, 1) != ARCHIVE_OK ||
      archive_write_open_memory(a, out.data(), out.size(), &used) != ARCHIVE_OK ||
      archive_write_header(a, entry) != ARCHIVE_OK ||
      archive_write_data(a, contents.data(), contents.size()) != static_cast<la_ssize_t>(contents.size()) ||
      archive_write_close(a) != ARCHIVE_OK)
    die("cannot compress " + name + ": " + archive_error_string(a));
  archive_entry_free(entry);
  archive_write_free(a);
  return sealed(std::string(out.data(), used), key, key_length);
}

// What a tar writer writes until |whole| is set: the header blocks (the
// data that follows is zeros).
struct a_kept_header {
  std::string bytes;
  bool whole = false;
};

la_ssize_t keep_header(struct archive*, void* out, const void* bytes, size_t length) {
  a_kept_header& kept = *static_cast<a_kept_header*>(out);
  if (!kept.whole) kept.bytes.append(static_cast<const char*>(bytes), length);
  return static_cast<la_ssize_t>(length);
}

// The stored bytes of a file of |size| zero bytes under |name|: one zstd
// frame declaring a window of 2^27 bytes, the tar header in a raw block,
// then run-length blocks of 128 KiB of zeros, encrypted with |key|.
std::string wide_zstd_stream(const std::string& name, uint64_t size, const unsigned char* key, int key_length) {
  a_kept_header kept;
  struct archive* a = archive_write_new();
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, name.c_str());
  archive_entry_set_mode(entry, AE_IFREG | 0644);
  archive_entry_set_size(entry, static_cast<la_int64_t>(size));
  if (archive_write_set_format_pax(a) != ARCHIVE_OK || archive_write_set_bytes_per_block(a, 0) != ARCHIVE_OK ||
      archive_write_open(a, &kept, nullptr, keep_header, nullptr) != ARCHIVE_OK ||
      archive_write_header(a, entry) != ARCHIVE_OK)
    die("cannot write the header of " + name);
  kept.whole = true;
  const std::string& header = kept.bytes;
  archive_entry_free(entry);
  archive_write_free(a);
  auto block_header = [](std::string& out, uint32_t type, uint32_t length, bool last) {
    const uint32_t word = (length << 3) | (type << 1) | (last ? 1u : 0u);
    for (int i = 0; i < 3; ++i) out.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
  };
  std::string frame("\x28\xb5\x2f\xfd\x00\x88", 6);
  block_header(frame, 0, static_cast<uint32_t>(header.size()), false);
  frame += header;
  // The data padded to whole tar blocks, and the two blocks that end the tar.
  uint64_t zeros = (size + 511) / 512 * 512 + 1024;
  while (zeros > 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(zeros, 128 * 1024));
    zeros -= n;
    block_header(frame, 1, n, zeros == 0);
    frame.push_back('\0');
  }
  // A skippable frame brings the stream to whole records, as the builder's
  // do, so that no zero padding follows the frame.
  if (frame.size() % 8 != 0) {
    const uint32_t filler = static_cast<uint32_t>(16 - (frame.size() + 8) % 8) % 8;
    frame += std::string("\x50\x2a\x4d\x18", 4);
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((filler >> (8 * i)) & 0xff));
    frame.append(filler, '\0');
  }
  return sealed(frame, key, key_length);
}

// |stored| zero-padded to whole records and encrypted with |key|.
std::string sealed(std::string stored, const unsigned char* key, int key_length) {
  stored.resize((stored.size() + 7) / 8 * 8, '\0');
  an_encrypt_data state;
  __Encrypt_init(&state, ENCRYPT_WRITING, key, key_length);
  __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(&stored[0]), static_cast<unsigned>(stored.size()));
  return stored;
}

void write_all(int fd, const std::string& bytes, uint64_t at) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t put = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
    if (put <= 0) die("cannot write");
    done += static_cast<size_t>(put);
  }
}

enum class a_stream_kind { kNone, kTiny, kWideZstd };

void write_archive(const std::string& path, int archive, int archives, long entries, int options,
                   a_stream_kind kind) {
  const bool streams = kind != a_stream_kind::kNone;
  unsigned long long state = 88172645463325252ULL + static_cast<unsigned long long>(archive);
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  const ArchiveKey key;

  // The options in this archive's order; an option's bit is its position.
  std::vector<std::string> option_names;
  for (int o = 0; o < options; ++o) option_names.push_back("option" + std::to_string((o + archive * 7) % options));
  auto bit_value = [](uint64_t bit) {
    return static_cast<unsigned long long>(static_cast<int64_t>(static_cast<int32_t>(1u << (bit % 32))));
  };

  std::map<std::string, an_entry> files;  // in byte-wise name order
  const long first = archive * entries / archives;
  const long last = (archive + 1) * entries / archives;
  for (long i = first; i < last; ++i) {
    // One name in ten is shared with the next archive.
    const long id = (i % 10 == 0 && archive > 0) ? i - entries / archives : i;
    const std::string name = "component" + std::to_string(id % 97) + "/dir" + std::to_string(id % 13) + "/file" +
                             std::to_string(id) + (id % 3 ? ".so" : ".dat");
    an_entry& e = files[name];
    e.mask = bit_value(next() % static_cast<unsigned long long>(options));
    e.file_size = streams ? 0 : next() % 100000;
  }

  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) die("cannot create " + path);
  uint64_t position = kHeaderSize;
  std::string run;  // streams collected into larger writes
  for (auto& [name, e] : files) {
    if (!streams) {
      e.data_offset = position;
      e.stored_length = 64;
      position += 64;
      continue;
    }
    const std::string contents = "contents of " + name + "\n";
    const uint64_t wide_size = uint64_t{96} << 20;
    const std::string stored = kind == a_stream_kind::kWideZstd
                                   ? wide_zstd_stream(name, wide_size, key.bytes(), key.length())
                                   : stored_stream(name, contents, key.bytes(), key.length());
    if (hmac_sha256(key.bytes(), key.length(), stored.data(), stored.size(), e.mac) != HmacStatus::kOk)
      die("cannot seal " + name);
    e.data_offset = position + run.size();
    e.file_size = kind == a_stream_kind::kWideZstd ? wide_size : contents.size();
    e.stored_length = stored.size();
    run += stored;
    if (run.size() > (1 << 20)) {
      write_all(fd, run, position);
      position += run.size();
      run.clear();
    }
  }
  write_all(fd, run, position);
  position += run.size();
  if (!streams) {
    // The claimed streams lie inside the file, as zeros.
    if (ftruncate(fd, static_cast<off_t>(position)) != 0) die("cannot size " + path);
  }

  // Entry table in name order, option table, then the strings: the entry
  // names, then the option names. Every option's description is string 0.
  const uint64_t toc_offset = position;
  std::string tables;
  uint64_t index = 0;
  for (const auto& [name, e] : files) {
    tables.append(reinterpret_cast<const char*>(e.mac), sizeof e.mac);
    for (uint64_t field : std::initializer_list<uint64_t>{e.data_offset, e.file_size, e.stored_length, ~0ULL, 0ULL,
                           static_cast<uint64_t>(e.mask), 0ULL, 0ULL, index++})
      put64(tables, field);
  }
  const uint64_t option_offset = toc_offset + tables.size();
  std::vector<size_t> order(option_names.size());
  for (size_t o = 0; o < order.size(); ++o) order[o] = o;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return option_names[a] < option_names[b]; });
  for (size_t o : order) {
    put64(tables, index++);
    put64(tables, 0);
    put64(tables, o);
  }
  const uint64_t string_offset = toc_offset + tables.size();
  for (const auto& file : files) {
    put32(tables, static_cast<uint32_t>(file.first.size()));
    tables += file.first;
  }
  for (size_t o : order) {
    put32(tables, static_cast<uint32_t>(option_names[o].size()));
    tables += option_names[o];
  }
  write_all(fd, tables, toc_offset);

  std::string header(kHeaderSize, '\0');
  if (hmac_sha256(key.bytes(), key.length(), tables.data(), tables.size(),
                  reinterpret_cast<unsigned char*>(&header[0])) != HmacStatus::kOk)
    die("cannot seal " + path);
  set64(header, 32, toc_offset);
  set64(header, 40, files.size());
  set64(header, 48, option_offset);
  set64(header, 56, option_names.size());
  set64(header, 64, string_offset);
  set64(header, 72, files.size() + option_names.size());
  const uint32_t build = 7254;
  std::memcpy(&header[96], &build, sizeof build);
  header[100] = 17, header[101] = 0, header[102] = 11;
  write_all(fd, header, 0);
  if (::close(fd) != 0) die("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  a_stream_kind kind = a_stream_kind::kNone;
  if (argc > 1 && std::strcmp(argv[1], "--streams") == 0) kind = a_stream_kind::kTiny;
  if (argc > 1 && std::strcmp(argv[1], "--wide-zstd") == 0) kind = a_stream_kind::kWideZstd;
  if (kind != a_stream_kind::kNone) --argc, ++argv;
  if (argc != 5) {
    fprintf(stderr, "usage: make_archive_set [--streams | --wide-zstd] <dir> <archives> <entries> <options>\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int archives = atoi(argv[2]);
  const long entries = atol(argv[3]);
  const int options = atoi(argv[4]);
  if (archives < 1 || entries < archives || options < 1) {
    fprintf(stderr, "make_archive_set: at least one archive, one entry per archive and one option\n");
    return 2;
  }
  std::vector<pid_t> children;
  for (int a = 0; a < archives; ++a) {
    const pid_t child = fork();
    if (child < 0) die("cannot fork");
    if (child == 0) {
      write_archive(dir + "/set" + std::to_string(a) + ".tic", a, archives, entries, options, kind);
      _exit(0);
    }
    children.push_back(child);
  }
  int failed = 0;
  for (pid_t child : children) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = 1;
  }
  return failed;
}
