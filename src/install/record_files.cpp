#include "install/record_files.h"

#include <stdexcept>

#include "install/record_stream.h"

struct a_record_files::Cursor::a_reader {
  explicit a_reader(const RecordStream& stream) : reader(stream) {}
  RecordStream::Reader reader;
};

void a_record_files::attach(std::shared_ptr<const RecordStream> stream) {
  stream_ = std::move(stream);
  changes_.clear();
  size_.reset();
}

void a_record_files::put(const std::string& name, const a_recorded_file& file) {
  changes_[name] = file;
  size_.reset();
}

void a_record_files::erase(const std::string& name) {
  // Without a stream an erased name is simply not there.
  if (stream_)
    changes_[name] = std::nullopt;
  else
    changes_.erase(name);
  size_.reset();
}

void a_record_files::clear() {
  stream_.reset();
  changes_.clear();
  size_.reset();
}

size_t a_record_files::size() const {
  if (!stream_) return changes_.size();
  if (changes_.empty()) return stream_->count();
  if (!size_) {
    size_t count = 0;
    (void)walk([&count](const std::string&, const a_recorded_file&) { return ++count, true; });
    size_ = count;
  }
  return *size_;
}

bool a_record_files::find(const std::string& name, a_recorded_file& file) const {
  const auto changed = changes_.find(name);
  if (changed != changes_.end()) {
    if (changed->second) file = *changed->second;
    return changed->second.has_value();
  }
  bool found = false;
  (void)walk([&](const std::string& each, const a_recorded_file& recorded) {
    if (each == name) found = (file = recorded, true);
    return each < name;
  });
  return found;
}

a_recorded_file a_record_files::at(const std::string& name) const {
  a_recorded_file file;
  if (!find(name, file)) throw std::out_of_range("not recorded: " + name);
  return file;
}

Outcome a_record_files::walk(const a_visit& each) const {
  Cursor cursor(*this);
  while (cursor.next())
    if (!each(cursor.name(), cursor.file())) return Outcome();
  if (cursor.failure().failed()) return cursor.failure();
  return Outcome();
}

a_record_files::Cursor::Cursor(const a_record_files& files) : changes_(files.changes_), change_(changes_.begin()) {
  if (files.stream_) reader_ = std::make_unique<a_reader>(*files.stream_);
  read_stream();
}

a_record_files::Cursor::~Cursor() = default;

bool a_record_files::Cursor::read_stream() {
  have_stream_ = reader_ && reader_->reader.next(stream_name_, stream_file_);
  if (!have_stream_ && reader_ && reader_->reader.failure().failed()) failure_ = reader_->reader.failure();
  return have_stream_;
}

// The stream and the changes merged by name: a change replaces (or drops)
// the stream's file of its name.
bool a_record_files::Cursor::next() {
  for (;;) {
    if (failure_.failed()) return false;
    const bool have_change = change_ != changes_.end();
    if (!have_stream_ && !have_change) return false;
    if (have_change && (!have_stream_ || change_->first <= stream_name_)) {
      if (have_stream_ && change_->first == stream_name_) read_stream();
      const auto& change = *change_++;
      if (!change.second) continue;
      name_ = change.first;
      file_ = *change.second;
      return true;
    }
    name_.swap(stream_name_);
    file_ = stream_file_;
    read_stream();
    return true;
  }
}
