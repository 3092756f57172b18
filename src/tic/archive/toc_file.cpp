#include "tic/archive/toc_file.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "tic/format/format_steps.h"
#include "tic/format/list_file.h"

bool feed_toc_table(int descriptor, uint64_t file_size, TicTocDecoder& decoder, TicTocDecoder::Table table) {
  unsigned char buffer[kIoBlockSize];
  size_t held = 0;
  uint64_t position = decoder.offset(table);
  while (decoder.left(table) > 0 && position < file_size) {
    const uint64_t room = std::min<uint64_t>(kIoBlockSize - held, file_size - position);
    const ssize_t got = pread_full(descriptor, buffer + held, static_cast<size_t>(room), position);
    if (got < 0 && table != TicTocDecoder::kStrings) {
      decoder.unreadable(table);
      break;
    }
    if (got <= 0) break;
    position += static_cast<uint64_t>(got);
    held += static_cast<size_t>(got);
    ByteSpan piece(buffer, held);
    if (!decoder.decode(table, &piece)) return false;
    std::memmove(buffer, piece.data(), piece.size());
    held = piece.size();
  }
  return decoder.finish(table, ByteSpan(buffer, held));
}

namespace {

constexpr TicTocDecoder::Table kTables[] = {TicTocDecoder::kStrings, TicTocDecoder::kOptions,
                                            TicTocDecoder::kEntries};

uint64_t bytes_after(uint64_t offset, uint64_t size) { return offset < size ? size - offset : 0; }

// What stopped |decoder|, or else |otherwise|, with errno as it is now.
Outcome stopped(const TicTocDecoder& decoder, const char* otherwise) {
  Outcome decoded = decoder.outcome();
  if (!decoded) return decoded;
  return failure_of(kStepTables, "", otherwise);
}

// Collects small writes into kIoBlockSize pieces.
class a_buffered_writer {
 public:
  explicit a_buffered_writer(int descriptor) : descriptor_(descriptor) {}

  bool put(const void* bytes, size_t size) {
    if (held_ + size > sizeof buffer_ && !flush()) return false;
    if (size > sizeof buffer_) return write_full(descriptor_, bytes, size) == static_cast<ssize_t>(size);
    std::memcpy(buffer_ + held_, bytes, size);
    held_ += size;
    return true;
  }

  bool flush() {
    const size_t size = held_;
    held_ = 0;
    return write_full(descriptor_, buffer_, size) == static_cast<ssize_t>(size);
  }

 private:
  int descriptor_;
  unsigned char buffer_[kIoBlockSize];
  size_t held_ = 0;
};

}  // namespace

Outcome TicToc::read(int descriptor, const TicHeader& header, bool swap) {
  TicTocDecoder decoder(*this, header, swap);
  struct stat st;
  if (::fstat(descriptor, &st) != 0 || st.st_size < 0) return stopped(decoder, "cannot read the archive");
  const auto file_size = static_cast<uint64_t>(st.st_size);
  for (const TicTocDecoder::Table table : kTables) {
    if (!decoder.present(table)) continue;
    // The file system has the last word on which positions exist.
    if (!decoder.begin(table, bytes_after(decoder.offset(table), file_size)))
      return stopped(decoder, "cannot read the table of contents");
    if (!seek_exact(descriptor, decoder.offset(table))) return stopped(decoder, "table offset beyond any file");
    if (!feed_toc_table(descriptor, file_size, decoder, table))
      return stopped(decoder, "cannot read the table of contents");
  }
  return Outcome();
}

bool TicToc::write(int descriptor, TicHeader& header, bool all) {
  const off_t position = ::lseek(descriptor, 0, SEEK_CUR);
  if (position < 0) return false;
  a_buffered_writer out(descriptor);
  return encode_to(static_cast<uint64_t>(position), header, all,
                   [&out](const void* bytes, size_t size) { return out.put(bytes, size); }) &&
         out.flush();
}

bool TicToc::read(const char* path) {
  std::ifstream in(path);
  if (!in) {
    // A list that cannot be opened is an empty list.
    file_map.clear();
    options.option_map.clear();
    return true;
  }
  return read(in);
}

bool TicToc::read(std::istream& in, bool keep_going, const ListLineNotes& notes) {
  file_map.clear();
  options.option_map.clear();
  bool good = true;
  std::string line;
  std::vector<std::string> doubts;
  for (size_t number = 1; std::getline(in, line); ++number) {
    doubts.clear();
    const Outcome taken = decode_list_line(line, notes ? &doubts : nullptr);
    const a_failure& refusal = taken.failure();
    if (!taken) fprintf(stderr, "load: %s: %s\n", refusal.step.phrase, refusal.subject.c_str());
    if (notes && (!taken || !doubts.empty())) notes(number, refusal, doubts);
    if (taken) continue;
    good = false;
    if (!keep_going) break;
  }
  return good;
}
