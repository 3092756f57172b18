// The files of an installation's record, by normalised path in byte-wise
// order: those of the record file, read as a stream (install/record_stream.h)
// each time they are walked, with what a command changed in memory laid
// over them. A record of a million files costs a descriptor and its
// changes, never a map of the installation.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "install/recorded_file.h"
#include "platform/failure.h"

class RecordStream;

class a_record_files {
 public:
  // The files of the checked record file |stream|, in place of any.
  void attach(std::shared_ptr<const RecordStream> stream);

  // |name| holds |file| from now on; |name| is no longer recorded.
  void put(const std::string& name, const a_recorded_file& file);
  void erase(const std::string& name);
  void clear();

  size_t size() const;
  bool empty() const { return size() == 0; }
  // The file |name|, found by a walk: false when it is not recorded.
  bool find(const std::string& name, a_recorded_file& file) const;
  bool contains(const std::string& name) const {
    a_recorded_file file;
    return find(name, file);
  }
  // The file |name|; throws std::out_of_range when it is not recorded.
  a_recorded_file at(const std::string& name) const;

  // Hands |each| every file in name order until it returns false. Fails
  // when the record file no longer reads as it was checked.
  using a_visit = std::function<bool(const std::string& name, const a_recorded_file& file)>;
  Outcome walk(const a_visit& each) const;

  // The files one at a time, in name order.
  class Cursor {
   public:
    explicit Cursor(const a_record_files& files);
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;
    // Moves to the next file: false at the end, or on a failure.
    bool next();
    const std::string& name() const { return name_; }
    const a_recorded_file& file() const { return file_; }
    const a_failure& failure() const { return failure_; }

   private:
    bool read_stream();

    struct a_reader;
    std::unique_ptr<a_reader> reader_;
    const std::map<std::string, std::optional<a_recorded_file>>& changes_;
    std::map<std::string, std::optional<a_recorded_file>>::const_iterator change_;
    bool have_stream_ = false;
    std::string stream_name_;
    a_recorded_file stream_file_;
    std::string name_;
    a_recorded_file file_;
    a_failure failure_;
  };

 private:
  std::shared_ptr<const RecordStream> stream_;
  // What was put (a file) or erased (none), by name.
  std::map<std::string, std::optional<a_recorded_file>> changes_;
  mutable std::optional<size_t> size_;
};
