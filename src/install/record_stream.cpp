#include "install/record_stream.h"

#include <errno.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "install/install_directory.h"
#include "install/install_steps.h"
#include "install/installable_entry.h"

namespace {

constexpr size_t kScanBlock = 64 * 1024;

// The text of a file read forward from an offset, a block at a time, with
// just enough of JSON's grammar to find where each value ends: what a
// value holds is left to the JSON reader.
class a_scanner {
 public:
  a_scanner(int fd, uint64_t at) : fd_(fd), start_(at) {}

  // The next byte, or -1 at the end (or when the file cannot be read:
  // read_failed()).
  int peek() {
    if (at_ == have_ && !fill()) return -1;
    return static_cast<unsigned char>(block_[at_]);
  }
  int get() {
    const int c = peek();
    if (c >= 0) ++at_;
    return c;
  }
  void skip_blanks() {
    for (int c = peek(); c == ' ' || c == '\n' || c == '\r' || c == '\t'; c = peek()) ++at_;
  }
  bool expect(char c) {
    skip_blanks();
    return get() == c;
  }
  uint64_t position() const { return start_ + at_; }
  bool read_failed() const { return failed_; }

  // Appends one value's text to |out|, at most |limit| bytes: false when
  // the text ends first, or is longer.
  bool value(std::string& out, size_t limit) {
    skip_blanks();
    const int c = peek();
    if (c == '"') return string(out, limit);
    if (c == '{' || c == '[') return nested(out, limit);
    for (int d = peek(); d >= 0 && std::strchr(",:]} \n\r\t", d) == nullptr; d = peek()) {
      if (out.size() >= limit) return false;
      out += static_cast<char>(get());
    }
    return !out.empty();
  }

 private:
  bool fill() {
    start_ += have_;
    at_ = have_ = 0;
    const ssize_t got = pread_full(fd_, block_, sizeof block_, start_);
    if (got < 0) failed_ = true;
    have_ = got > 0 ? static_cast<size_t>(got) : 0;
    return have_ > 0;
  }

  bool string(std::string& out, size_t limit) {
    out += static_cast<char>(get());
    for (;;) {
      // Runs of plain bytes are taken at once.
      if (at_ == have_ && !fill()) return false;
      const char* from = block_ + at_;
      const size_t left = have_ - at_;
      size_t n = 0;
      while (n < left && from[n] != '"' && from[n] != '\\') ++n;
      if (out.size() + n + 2 > limit) return false;
      out.append(from, n);
      at_ += n;
      if (n == left) continue;
      const int c = get();
      out += static_cast<char>(c);
      if (c == '"') return true;
      const int escaped = get();
      if (escaped < 0) return false;
      out += static_cast<char>(escaped);
    }
  }

  bool nested(std::string& out, size_t limit) {
    int depth = 0;
    for (;;) {
      const int c = peek();
      if (c < 0 || out.size() >= limit) return false;
      if (c == '"') {
        if (!string(out, limit)) return false;
        continue;
      }
      out += static_cast<char>(get());
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return true;
    }
  }

  int fd_;
  uint64_t start_;  // the offset of block_[0]
  char block_[kScanBlock];
  size_t at_ = 0;
  size_t have_ = 0;
  bool failed_ = false;
};

a_failure read_failure() { return failure_of(kStepDamagedRecord, "", "cannot read the record: " + std::string(strerror(errno))); }

// The files of a list, one at a time, checked as they come.
class a_file_list {
 public:
  explicit a_file_list(a_scanner& scanner) : scanner_(scanner) {}

  // The next file: false at the end of the list or on a failure (then
  // |failure| says why, and |out_of_order| whether the order alone broke).
  bool next(std::string& name, a_recorded_file& file, a_failure& failure, bool& out_of_order) {
    if (ended_) return false;
    scanner_.skip_blanks();
    if (first_ && scanner_.peek() == ']') return end();
    text_.clear();
    if (!scanner_.value(text_, kLongestRecordFile)) {
      if (scanner_.read_failed()) return stop(failure, read_failure());
      return stop(failure, damaged_record(text_.size() + 2 >= kLongestRecordFile ? "file too long in record"
                                                                                 : "not a JSON document"));
    }
    std::string raw;
    if (!plain_record_file(text_, raw, file)) {
      const Result<Json> parsed = parse_json(text_);
      if (!parsed) return stop(failure, damaged_record("not a JSON document"));
      if (!recorded_file_from_json(parsed.value(), raw, file)) return stop(failure, damaged_record("bad file in record"));
    }
    const std::string problem = installable_name_problem(raw);
    if (!problem.empty()) return stop(failure, forged_record(raw + ": " + problem));
    name = normalised_path(raw);
    if (!first_ && name <= previous_) {
      out_of_order = name != previous_;
      return stop(failure, name == previous_ ? forged_record(name + " recorded twice")
                                             : damaged_record("files not in name order"));
    }
    first_ = false;
    previous_ = name;
    scanner_.skip_blanks();
    const int c = scanner_.get();
    if (c == ']') ended_ = true;
    else if (c != ',') return stop(failure, damaged_record("not a JSON document"));
    return true;
  }
  bool ended() const { return ended_; }

 private:
  bool end() {
    scanner_.get();
    ended_ = true;
    return false;
  }
  bool stop(a_failure& failure, const a_failure& why) {
    failure = why;
    ended_ = true;
    return false;
  }

  a_scanner& scanner_;
  std::string text_;
  std::string previous_;
  bool first_ = true;
  bool ended_ = false;
};

// The rest of the list, read to its end: the first failure.
a_failure drain(a_file_list& list, size_t& count, bool& out_of_order) {
  std::string name;
  a_recorded_file file;
  a_failure failure;
  while (list.next(name, file, failure, out_of_order)) ++count;
  return failure;
}

// Whether the record open as |fd| reads as a whole document: a list of
// files the stream refused is then told as the whole document tells it,
// so that a refusal reads the same whatever the layout and wherever the
// fault lies (a forgery is told before a list cut short). Only a refused
// record is read whole.
Outcome whole_document_check(int fd) {
  std::string text;
  char block[kScanBlock];
  for (uint64_t at = 0;;) {
    const ssize_t got = pread_full(fd, block, sizeof block, at);
    if (got < 0) return read_failure();
    text.append(block, static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
    if (static_cast<size_t>(got) < sizeof block) break;
  }
  Json head;
  std::map<std::string, a_recorded_file> files;
  return parse_record_text(text, head, files);
}

// Copies |length| bytes of |from| at |at| to the end of |to|.
bool copy_range(int from, uint64_t at, uint64_t length, int to) {
  char block[kScanBlock];
  while (length > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, sizeof block));
    const ssize_t got = pread_full(from, block, want, at);
    if (got != static_cast<ssize_t>(want) || write_full(to, block, want) != got) return false;
    at += want;
    length -= want;
  }
  return true;
}

// The record open as |fd|, whose list of files begins at |files_at|, with
// its files sorted by path, in an unnamed file in memory: everything but
// the list byte for byte, each file's object as it stands. Per file the
// sort holds its path and where its object lies, never the document.
// Empty when the list cannot be read so (the stream's own refusal then
// stands).
UniqueFd sorted_copy(int fd, uint64_t files_at) {
  struct a_listed {
    std::string path;
    uint64_t at;
    uint32_t length;
  };
  std::vector<a_listed> listed;
  a_scanner scanner(fd, files_at);
  std::string text, raw;
  a_recorded_file file;
  uint64_t list_end = 0;
  scanner.skip_blanks();
  while (list_end == 0) {
    scanner.skip_blanks();
    const uint64_t at = scanner.position();
    text.clear();
    if (!scanner.value(text, kLongestRecordFile)) return UniqueFd();
    if (!plain_record_file(text, raw, file)) {
      const Result<Json> parsed = parse_json(text);
      if (!parsed || !recorded_file_from_json(parsed.value(), raw, file)) return UniqueFd();
    }
    listed.push_back({normalised_path(raw), at, static_cast<uint32_t>(text.size())});
    scanner.skip_blanks();
    const uint64_t end = scanner.position();
    const int c = scanner.get();
    if (c == ']') list_end = end;
    else if (c != ',') return UniqueFd();
  }
  std::stable_sort(listed.begin(), listed.end(), [](const a_listed& a, const a_listed& b) { return a.path < b.path; });
  struct stat st;
  UniqueFd copy(memfd_create("kestrel-record", MFD_CLOEXEC));
  if (!copy.valid() || fstat(fd, &st) != 0 || !copy_range(fd, 0, files_at, copy.get())) return UniqueFd();
  for (size_t i = 0; i < listed.size(); ++i) {
    if ((i > 0 && write_full(copy.get(), ",\n", 2) != 2) || !copy_range(fd, listed[i].at, listed[i].length, copy.get()))
      return UniqueFd();
  }
  if (!copy_range(fd, list_end, static_cast<uint64_t>(st.st_size) - list_end, copy.get())) return UniqueFd();
  return copy;
}

}  // namespace

struct RecordStream::Reader::a_state {
  explicit a_state(const RecordStream& stream) : scanner(stream.fd_.get(), stream.files_at_), list(scanner) {}
  a_scanner scanner;
  a_file_list list;
};

RecordStream::Reader::Reader(const RecordStream& stream) {
  if (stream.files_at_ != 0 && stream.count_ != 0) state_ = std::make_unique<a_state>(stream);
}

RecordStream::Reader::~Reader() = default;

bool RecordStream::Reader::next(std::string& name, a_recorded_file& file) {
  bool out_of_order = false;
  return state_ && state_->list.next(name, file, failure_, out_of_order);
}

Result<std::shared_ptr<const RecordStream>> RecordStream::open(UniqueFd fd, Json& head) {
  return read(std::move(fd), head, true);
}

// The document is read member by member: the list of files one file at a
// time, everything else into |head|. A list refused only for its order is
// a record of an earlier kestrel: with |may_sort| it is read again from
// its sorted copy, which is checked as any record is. Any other list that
// is refused is told as the whole document tells it (whole_document_check).
Result<std::shared_ptr<const RecordStream>> RecordStream::read(UniqueFd fd, Json& head, bool may_sort) {
  std::shared_ptr<RecordStream> stream(new RecordStream());
  a_scanner scanner(fd.get(), 0);
  std::string text = "{", key;
  bool out_of_order = false;
  bool files_seen = false;
  const a_failure not_json = damaged_record("not a JSON document");
  // A byte order mark is passed over, as JSON readers do.
  for (const unsigned char mark : {0xef, 0xbb, 0xbf}) {
    if (scanner.peek() != mark) break;
    scanner.get();
  }
  if (!scanner.expect('{')) return scanner.read_failed() ? read_failure() : not_json;
  scanner.skip_blanks();
  bool more = scanner.peek() != '}';
  if (!more) scanner.get();
  while (more) {
    key.clear();
    if (!scanner.value(key, kLongestRecordFile) || !scanner.expect(':')) return not_json;
    const Result<Json> name = parse_json(key);
    if (!name || !name->is_string()) return not_json;
    if (name.value() == "files" && files_seen) return damaged_record("files listed twice");
    files_seen = files_seen || name.value() == "files";
    scanner.skip_blanks();
    if (name.value() == "files" && scanner.peek() == '[') {
      scanner.get();
      stream->files_at_ = scanner.position();
      a_file_list list(scanner);
      const a_failure first = drain(list, stream->count_, out_of_order);
      if (first.failed()) {
        UniqueFd sorted = may_sort && out_of_order ? sorted_copy(fd.get(), stream->files_at_) : UniqueFd();
        if (sorted.valid()) return read(std::move(sorted), head, false);
        if (Outcome whole = whole_document_check(fd.get()); !whole) return whole.failure();
        return first;
      }
      text += key + ":[]";
    } else {
      text += key + ":";
      if (!scanner.value(text, kLongestRecordHead)) return not_json;
    }
    scanner.skip_blanks();
    const int c = scanner.get();
    more = c == ',';
    if (more) text += ",";
    else if (c != '}') return not_json;
  }
  scanner.skip_blanks();
  if (scanner.peek() >= 0 || scanner.read_failed()) return scanner.read_failed() ? read_failure() : not_json;
  Result<Json> parsed = parse_json(text + "}");
  if (!parsed) return not_json;
  head = std::move(parsed.value());
  stream->fd_ = std::move(fd);
  return std::shared_ptr<const RecordStream>(std::move(stream));
}
