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
#include <cstdio>
#include <vector>

#include "crypto/sha256.h"
#include "install/install_lock.h"
#include "platform/fd.h"
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

// The system's reason, in |why|; false.
bool fail_with(std::string& why) {
  why = strerror(errno);
  return false;
}

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

// Reads the file |path| of the state directory whole; |unsafe| says why
// others than root and this user may have written it, or is empty. false
// with errno set.
bool read_whole(const std::string& path, std::string& out, std::string& unsafe) {
  Result<UniqueFd> opened = open_regular_file(path.c_str());
  if (!opened) return false;
  const UniqueFd& fd = opened.value();
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return false;
  unsafe = state_owner_problem(st);
  out.clear();
  char buffer[kIoBlockSize * 8];
  for (;;) {
    const ssize_t got = read_full(fd.get(), buffer, sizeof buffer);
    if (got < 0) return false;
    out.append(buffer, static_cast<size_t>(got));
    if (static_cast<size_t>(got) < sizeof buffer) return true;
  }
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

std::string RecordStore::before_path(const std::string& directory, const std::string& backup) const {
  return record_path(directory) + ".before-" + path_hash(backup);
}

bool RecordStore::check_state(std::string& why) const {
  struct stat st;
  if (stat(state_.c_str(), &st) != 0) return true;  // made when a record is first written
  why = state_owner_problem(st);
  return why.empty();
}

a_record_read RecordStore::load(const std::string& directory, an_install_record& record, std::string& why,
                                std::string* warning) const {
  const a_record_read read = load_file(record_path(directory), record, why, warning);
  // A record copied from another directory's, or one whose cut name (the
  // same beginning and hash) is shared with it: nothing it says holds here.
  if (read == a_record_read::kFound && record.directory != directory) {
    why = "record of another install directory, " + record.directory;
    return a_record_read::kRefused;
  }
  return read;
}

a_record_read RecordStore::load_named(const std::string& name, an_install_record& record, std::string& why,
                                      std::string* warning) const {
  const a_record_read read = load_file(state_ + "/" + name, record, why, warning);
  // A record is only ever written under its directory's name.
  if (read == a_record_read::kFound && record_file_name(record.directory) != name) {
    why = "record of another install directory, " + record.directory;
    return a_record_read::kRefused;
  }
  return read;
}

a_record_read RecordStore::load_file(const std::string& path, an_install_record& record, std::string& why,
                                     std::string* warning) const {
  std::string text, unsafe;
  if (!read_whole(path, text, unsafe)) {
    if (errno == ENOENT) return a_record_read::kNone;
    fail_with(why);
    return a_record_read::kFailed;
  }
  if (!unsafe.empty() && warning == nullptr) {
    why = unsafe;
    return a_record_read::kUnsafe;
  }
  if (warning != nullptr) *warning = unsafe;
  bool forged = false;
  if (!record_from_text(text, record, why, &forged)) return forged ? a_record_read::kRefused : a_record_read::kDamaged;
  return a_record_read::kFound;
}

bool RecordStore::record_names(std::vector<std::string>& names, std::string& why) const {
  names.clear();
  Unique<DIR, closedir> directory(opendir(state_.c_str()));
  if (!directory) return errno == ENOENT || fail_with(why);
  const size_t suffix = sizeof kSuffix - 1;
  errno = 0;
  while (const struct dirent* entry = readdir(directory.get())) {
    const std::string name = entry->d_name;
    if (name[0] != '.' && name.size() > suffix && name.compare(name.size() - suffix, suffix, kSuffix) == 0)
      names.push_back(name);
    errno = 0;
  }
  if (errno != 0) return fail_with(why);
  std::sort(names.begin(), names.end());
  return true;
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

bool RecordFileWriter::open(const std::string& state, const std::string& path, std::string& why) {
  if (!make_directories(state)) return fail_with(why);
  state_ = state;
  path_ = path;
  temporary_ = path + ".tmp-" + std::to_string(getpid());
  fd_.reset(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  written_ = true;
  block_.clear();
  return fd_.valid() || fail_with(why);
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

bool RecordFileWriter::commit(std::string& why) {
  flush();
  if (!written_ || fsync(fd_.get()) != 0 || ::close(fd_.release()) != 0 ||
      rename(temporary_.c_str(), path_.c_str()) != 0) {
    fail_with(why);
    fd_.reset();
    unlink(temporary_.c_str());
    return false;
  }
  return sync_directory(state_) || fail_with(why);
}

bool RecordStore::open_writer(const std::string& directory, RecordFileWriter& writer, std::string& why) const {
  return writer.open(state_, record_path(directory), why);
}

bool RecordStore::write_whole(const std::string& path, const a_text_writer& fill, std::string& why) const {
  RecordFileWriter writer;
  if (!writer.open(state_, path, why)) return false;
  fill([&writer](const std::string& text) { writer.put(text); });
  return writer.commit(why);
}

bool RecordStore::write_whole(const std::string& path, const std::string& text, std::string& why) const {
  return write_whole(path, [&text](const a_text_put& put) { put(text); }, why);
}

bool RecordStore::save(const an_install_record& record, std::string& why) const {
  return write_whole(
      record_path(record.directory), [&record](const a_text_put& put) { put_record_text(record, nullptr, put); }, why);
}

bool RecordStore::drop(const std::string& directory, std::string& why) const {
  if (unlink(record_path(directory).c_str()) != 0 && errno != ENOENT) return fail_with(why);
  return true;
}

bool RecordStore::set_aside(const std::string& directory, std::string& why) const {
  const std::string path = record_path(directory);
  if (rename(path.c_str(), (path + ".damaged").c_str()) != 0) return fail_with(why);
  return true;
}

bool RecordStore::keep_before(const std::string& directory, const std::string& backup,
                              const an_install_record* before, std::string& why) const {
  const std::string path = before_path(directory, backup);
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return true;  // the oldest state stays
  if (before != nullptr)
    return write_whole(path, [&](const a_text_put& put) { put_record_text(*before, &backup, put); }, why);
  Json document = Json::object();
  document["format"] = "kestrel-record 1";
  document["directory"] = json_bytes(directory);
  document["none"] = true;
  document["backup"] = json_bytes(backup);
  return write_whole(path, json_document(document, 1) + "\n", why);
}

a_record_read RecordStore::read_before(const std::string& directory, const std::string& backup, Json& document,
                                       std::map<std::string, a_recorded_file>& files, std::string& why) const {
  std::string text, unsafe;
  if (!read_whole(before_path(directory, backup), text, unsafe)) {
    if (errno == ENOENT) return a_record_read::kNone;
    fail_with(why);
    return a_record_read::kFailed;
  }
  if (!unsafe.empty()) {
    why = unsafe;
    return a_record_read::kUnsafe;
  }
  bool forged = false;
  if (!parse_record_text(text, document, files, why, &forged))
    return forged ? a_record_read::kRefused : a_record_read::kDamaged;
  const auto named = document.find("directory");
  std::string recorded;
  if (named == document.end() || !bytes_from_json(*named, recorded)) {
    why = "record incomplete";
    return a_record_read::kDamaged;
  }
  if (recorded != directory) {
    why = "record of another install directory, " + recorded;
    return a_record_read::kRefused;
  }
  return a_record_read::kFound;
}

a_record_read RecordStore::check_before(const std::string& directory, const std::string& backup,
                                        std::string& why) const {
  Json document;
  std::map<std::string, a_recorded_file> files;
  return read_before(directory, backup, document, files, why);
}

a_record_read RecordStore::return_to_before(const std::string& directory, const std::string& backup,
                                            std::string& why) const {
  Json document;
  std::map<std::string, a_recorded_file> files;
  const a_record_read read = read_before(directory, backup, document, files, why);
  if (read != a_record_read::kFound) return read;
  const auto none = document.find("none");
  if (none != document.end() && none->is_boolean() && none->get<bool>()) {
    if (!drop(directory, why)) return a_record_read::kFailed;
  } else {
    an_install_record record;
    if (!record_from_json(document, record, why)) return a_record_read::kDamaged;
    record.files = std::move(files);
    if (!save(record, why)) return a_record_read::kFailed;
  }
  if (unlink(before_path(directory, backup).c_str()) != 0) {
    fail_with(why);
    return a_record_read::kFailed;
  }
  sync_directory(state_);
  return a_record_read::kFound;
}
