// A record read as a stream (install/install_record.h): the file is never
// held whole. Its text is scanned once to check it and take its head (the
// members other than the files: small), and then its files are read one at
// a time, as often as a command walks them, from the descriptor opened the
// first time, so every walk reads the record that was checked even after a
// new one is renamed over it.
//
// Any layout of the document is read (a record edited by hand is still
// one); a file's object is at most kLongestRecordFile bytes, and the head
// at most kLongestRecordHead. A record is hostile input: every file's name
// is checked as an archive's is (installable_name_problem), and the names,
// normalised, must rise strictly in byte-wise order, which every walk side
// by side with the tables depends on. Each walk checks them again as it
// reads them. Earlier kestrels wrote a first install's files in the order
// they were put in place: such a record is read whole once, sorted into an
// unnamed file in memory, and streamed from there; the next command that
// writes the record stores it sorted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "install/install_record.h"
#include "platform/failure.h"
#include "platform/fd.h"
#include "platform/json.h"

constexpr size_t kLongestRecordFile = 64 * 1024;
constexpr size_t kLongestRecordHead = 16 * 1024 * 1024;

// The checked record file: where its list of files begins, and how many.
class RecordStream {
 public:
  // Checks the record open as |fd| (from its start) and takes it: fails
  // as record_from_text does (kStepDamagedRecord, kStepForgedRecord, why
  // in the cause; no subject). |head| gets the document without its files
  // (its "files" an empty list).
  static Result<std::shared_ptr<const RecordStream>> open(UniqueFd fd, Json& head);

  size_t count() const { return count_; }

  // Reads the files in order, one at a time.
  class Reader {
   public:
    explicit Reader(const RecordStream& stream);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    // The next file: false at the end, or when the record no longer reads
    // as it did (failure() says why).
    bool next(std::string& name, a_recorded_file& file);
    const a_failure& failure() const { return failure_; }

   private:
    struct a_state;
    std::unique_ptr<a_state> state_;
    a_failure failure_;
  };

 private:
  RecordStream() = default;
  static Result<std::shared_ptr<const RecordStream>> read(UniqueFd fd, Json& head, bool may_sort);
  UniqueFd fd_;
  uint64_t files_at_ = 0;  // just after the list's "["; 0: no list
  size_t count_ = 0;
};
