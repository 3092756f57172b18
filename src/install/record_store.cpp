#include "install/record_store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <vector>

#include "crypto/sha256.h"
#include "install/install_steps.h"
#include "install/record_stream.h"
#include "platform/fail_point.h"
#include "install/install_lock.h"
#include "platform/fd.h"
#include "platform/json.h"
#include "platform/unique.h"

namespace {

// Record names stay well below NAME_MAX with their suffixes.
constexpr size_t kNameLimit = 180;
// What a record's text gathers before each write.
constexpr size_t kRecordBlockSize = 64 * 1024;
constexpr const char kSuffix[] = ".json";
// Root's state directory.
constexpr const char kSystemStateDirectory[] = "/var/lib/kestrel";

std::string path_hash(const std::string& path) {
  UT_SHA256_CTX ctx;
  unsigned char digest[UT_SHA256_DIGEST_LENGTH];
  UT_SHA256_Init(&ctx);
  UT_SHA256_Update(&ctx, path.data(), path.size());
  UT_SHA256_Final(&ctx, digest);
  return hex_text(digest, 8);
}

// The system's reason why a state file failed, about the state directory
// |state|.
a_failure state_failure(const std::string& state) { return failure_of(kStepRecord, state); }

// Makes |path| and its missing parents.
bool make_directories(const std::string& path) {
  for (size_t at = 1; at != std::string::npos;) {
    at = path.find('/', at + 1);
    const std::string partial = path.substr(0, at);
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (errno = ENOTDIR, false));
}

// Opens the file |path| of the state directory to read it; |unsafe| says
// why others than root and this user may have written it, or is empty.
// false with errno set.
bool open_state_file(const std::string& path, UniqueFd& fd, std::string& unsafe) {
  Result<UniqueFd> opened = open_regular_file(path.c_str());
  if (!opened) return false;
  struct stat st;
  if (fstat(opened.value().get(), &st) != 0) return false;
  unsafe = state_owner_problem(st);
  fd = std::move(opened.value());
  return true;
}

// The process that made |name|, a temporary of the state file |file|
// ("<file>.tmp-<pid>", or "<file>.before-<hash>.tmp-<pid>" of the record
// kept for a restore); 0 when |name| is not one.
pid_t temporary_maker(const std::string& name, const std::string& file) {
  if (name.compare(0, file.size(), file) != 0) return 0;
  size_t at = file.size();
  static const char kBefore[] = ".before-";
  if (name.compare(at, sizeof kBefore - 1, kBefore) == 0) {
    at = name.find_first_not_of("0123456789abcdef", at + sizeof kBefore - 1);
    if (at == std::string::npos) return 0;
  }
  static const char kTemporary[] = ".tmp-";
  if (name.compare(at, sizeof kTemporary - 1, kTemporary) != 0) return 0;
  at += sizeof kTemporary - 1;
  if (at == name.size() || at + 9 < name.size() || name.find_first_not_of("0123456789", at) != std::string::npos)
    return 0;
  return static_cast<pid_t>(std::strtol(name.c_str() + at, nullptr, 10));
}

bool sync_directory(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && fsync(fd.get()) == 0;
}

}  // namespace

std::string configured_state_directory() {
  std::string path;
  const char* configured = getenv("KESTREL_STATE_DIR");
  if (configured != nullptr && *configured != '\0') {
    path = configured;
  } else if (geteuid() == 0) {
    return kSystemStateDirectory;
  } else if (const char* xdg = getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
    return std::string(xdg) + "/kestrel";
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      const struct passwd* user = getpwuid(geteuid());
      home = user != nullptr ? user->pw_dir : "/";
    }
    return std::string(home) + "/.local/state/kestrel";
  }
  if (path[0] != '/') {
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) != nullptr) path = std::string(here) + "/" + path;
  }
  return path;
}

std::string system_state_directory() {
  const char* configured = getenv("KESTREL_STATE_DIR");
  if ((configured != nullptr && *configured != '\0') || geteuid() == 0) return "";
  return kSystemStateDirectory;
}

std::string state_owner_problem(const struct stat& st) {
  const uid_t user = geteuid();
  if ((st.st_uid == 0 || st.st_uid == user) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return "";
  char text[160];
  std::snprintf(text, sizeof text,
                "owned by uid %lu with mode %04o; must belong to root%s and not be writable by group or others",
                static_cast<unsigned long>(st.st_uid), static_cast<unsigned>(st.st_mode & 07777),
                user == 0 ? "" : (" or to uid " + std::to_string(user)).c_str());
  return text;
}

std::string record_file_name(const std::string& directory) {
  static const char digits[] = "0123456789ABCDEF";
  std::string name;
  for (size_t i = directory.find_first_not_of('/'); i < directory.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(directory[i]);
    if (c == '/') {
      name += '-';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               (c == '.' && !name.empty())) {
      name += static_cast<char>(c);
    } else {
      name += '%';
      name += digits[c >> 4];
      name += digits[c & 0xf];
    }
  }
  if (name.empty()) name = "-";  // the root directory
  if (name.size() > kNameLimit) name = name.substr(0, kNameLimit - 17) + "-" + path_hash(directory);
  return name + kSuffix;
}

std::string canonical_current_directory() {
  char* path = realpath(".", nullptr);
  if (path == nullptr) return "";
  std::string out(path);
  free(path);
  return out;
}

std::string RecordStore::record_path(const std::string& directory) const {
  return state_ + "/" + record_file_name(directory);
}

Outcome RecordStore::check_state() const {
  struct stat st;
  if (stat(state_.c_str(), &st) != 0) return Outcome();  // made when a record is first written
  const std::string problem = state_owner_problem(st);
  if (problem.empty()) return Outcome();
  errno = 0;
  return failure_of(kStepUnsafeRecord, state_, problem);
}

namespace {

// A record refused because it is not the record of |directory|, the
// directory it was looked up for.
a_failure other_directory(const std::string& path, const std::string& directory) {
  a_failure refused = forged_record("");
  refused.cause = "record of another install directory, " + directory;
  refused.subject = path;
  return refused;
}

}  // namespace

Result<bool> RecordStore::load(const std::string& directory, an_install_record& record, a_failure* warning) const {
  const std::string path = record_path(directory);
  const Result<bool> read = load_file(path, record, warning);
  // A record copied from another directory's, or one whose cut name (the
  // same beginning and hash) is shared with it: nothing it says holds here.
  if (read && read.value() && record.directory != directory) return other_directory(path, record.directory);
  return read;
}

Result<bool> RecordStore::load_named(const std::string& name, an_install_record& record, a_failure* warning) const {
  const std::string path = state_ + "/" + name;
  const Result<bool> read = load_file(path, record, warning);
  // A record is only ever written under its directory's name.
  if (read && read.value() && record_file_name(record.directory) != name)
    return other_directory(path, record.directory);
  return read;
}

// The record is checked whole here, and its files then read from the same
// descriptor each time they are walked (install/record_stream.h).
Result<bool> RecordStore::load_file(const std::string& path, an_install_record& record, a_failure* warning) const {
  std::string unsafe;
  UniqueFd fd;
  if (!open_state_file(path, fd, unsafe)) {
    if (errno == ENOENT) return false;
    return state_failure(state_);
  }
  errno = 0;
  if (!unsafe.empty() && warning == nullptr) return failure_of(kStepUnsafeRecord, path, unsafe);
  if (!unsafe.empty()) *warning = failure_of(kStepUnsafeRecord, path, unsafe);
  Json head;
  Result<std::shared_ptr<const RecordStream>> stream = RecordStream::open(std::move(fd), head);
  Outcome read = stream ? record_from_json(head, record) : Outcome(stream.failure());
  if (!read) {
    a_failure refused = read.failure();
    refused.subject = path;
    return refused;
  }
  record.files.attach(std::move(stream.value()));
  return true;
}

Outcome RecordStore::record_names(std::vector<std::string>& names) const {
  names.clear();
  Unique<DIR, closedir> directory(opendir(state_.c_str()));
  if (!directory) return errno == ENOENT ? Outcome() : Outcome(state_failure(state_));
  const size_t suffix = sizeof kSuffix - 1;
  errno = 0;
  while (const struct dirent* entry = readdir(directory.get())) {
    const std::string name = entry->d_name;
    if (name[0] != '.' && name.size() > suffix && name.compare(name.size() - suffix, suffix, kSuffix) == 0)
      names.push_back(name);
    errno = 0;
  }
  if (errno != 0) return state_failure(state_);
  std::sort(names.begin(), names.end());
  return Outcome();
}

void RecordStore::sweep_temporaries(const std::string& directory) const {
  const std::string record = record_file_name(directory);
  Unique<DIR, closedir> dir(opendir(state_.c_str()));
  if (!dir) return;
  std::vector<std::string> abandoned;
  while (const struct dirent* member = readdir(dir.get())) {
    const pid_t maker = temporary_maker(member->d_name, record);
    if (maker > 0 && !process_runs(maker)) abandoned.emplace_back(member->d_name);
  }
  for (const std::string& name : abandoned) unlinkat(dirfd(dir.get()), name.c_str(), 0);
}

RecordFileWriter::~RecordFileWriter() {
  if (fd_.valid()) unlink(temporary_.c_str());
}

Outcome RecordFileWriter::open(const std::string& state, const std::string& path, bool record) {
  if (!make_directories(state)) return state_failure(state);
  record_ = record;
  state_ = state;
  path_ = path;
  temporary_ = path + ".tmp-" + std::to_string(getpid());
  fd_.reset(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  written_ = true;
  block_.clear();
  return fd_.valid() ? Outcome() : state_failure(state);
}

void RecordFileWriter::put(const std::string& text) {
  block_ += text;
  if (block_.size() >= kRecordBlockSize) flush();
}

// The first failed write fails the file.
void RecordFileWriter::flush() {
  if (written_ && !block_.empty())
    written_ = write_full(fd_.get(), block_.data(), block_.size()) == static_cast<ssize_t>(block_.size());
  block_.clear();
}

Outcome RecordFileWriter::commit() {
  flush();
  const bool written = written_ && fsync(fd_.get()) == 0 && ::close(fd_.release()) == 0;
  FAIL_POINT_IF(written && record_, "record-written");
  if (!written || rename(temporary_.c_str(), path_.c_str()) != 0) {
    const a_failure failure = state_failure(state_);
    fd_.reset();
    unlink(temporary_.c_str());
    return failure;
  }
  FAIL_POINT_IF(record_, "record-renamed");
  return sync_directory(state_) ? Outcome() : state_failure(state_);
}

Outcome RecordStore::open_writer(const std::string& directory, RecordFileWriter& writer) const {
  return writer.open(state_, record_path(directory), true);
}

Outcome RecordStore::write_whole(const std::string& path, const a_text_writer& fill, bool record) const {
  RecordFileWriter writer;
  if (Outcome opened = writer.open(state_, path, record); !opened) return opened;
  if (Outcome filled = fill([&writer](const std::string& text) { writer.put(text); }); !filled) return filled;
  return writer.commit();
}

Outcome RecordStore::save(const an_install_record& record) const {
  return write_whole(
      record_path(record.directory), [&record](const a_text_put& put) { return put_record_text(record, nullptr, put); },
      true);
}

Outcome RecordStore::drop(const std::string& directory) const {
  if (unlink(record_path(directory).c_str()) != 0 && errno != ENOENT) return state_failure(state_);
  return Outcome();
}

Outcome RecordStore::make_directory() const {
  if (make_directories(state_)) return Outcome();
  return failure_of(kStepRecord, state_);
}

Outcome RecordStore::set_aside(const std::string& directory) const {
  const std::string path = record_path(directory);
  if (rename(path.c_str(), (path + ".damaged").c_str()) != 0) return state_failure(state_);
  return Outcome();
}

Outcome record_before_text(const std::string& directory, const an_install_record* before,
                           const std::function<void(const std::string&)>& put) {
  if (before != nullptr) return put_record_text(*before, nullptr, put);
  Json document = Json::object();
  document["format"] = "kestrel-record 1";
  document["directory"] = json_bytes(directory);
  document["none"] = true;
  put(json_document(document, 1) + "\n");
  return Outcome();
}

Outcome RecordStore::put_back(const std::string& directory, UniqueFd text, bool apply) const {
  Json document;
  Result<std::shared_ptr<const RecordStream>> stream = RecordStream::open(std::move(text), document);
  if (!stream) return stream.failure();
  std::string named;
  if (!document.is_object() || !bytes_from_json(document.value("directory", Json()), named) || named != directory) {
    a_failure refused = forged_record("");
    refused.cause = "record of another install directory, " + named;
    return refused;
  }
  const auto none = document.find("none");
  const bool no_record = none != document.end() && none->is_boolean() && none->get<bool>();
  an_install_record record;
  if (!no_record)
    if (Outcome read = record_from_json(document, record); !read) return read;
  if (!apply) return Outcome();
  if (no_record) return drop(directory);
  record.files.attach(std::move(stream.value()));
  return save(record);
}
