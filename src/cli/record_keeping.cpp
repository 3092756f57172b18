#include "cli/record_keeping.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <cstring>

#include "cli/commands.h"
#include "tic/archive/archive_stamp.h"
#include "tic/archive/tic.h"
#include "tic/format/options.h"

const char kKestrelRelease[] = "kestrel 17.0.11 build 7254";

namespace {

// The product name ("tarnvale") and version ("17.0.11 build 7254") from
// the stamp of the archive at |path| into |archive|; left empty when it has
// none.
void read_product(const char* path, a_recorded_archive& archive) {
  dbversion_info info;
  if (path == nullptr || read_file_stamp(path, &info) != kInfoFound) return;
  const char* module = __Find_arg(&info, "MODULE");
  if (module != nullptr) archive.product = module;
  const char* major = __Find_arg(&info, "VERSION_MAJOR");
  const char* minor = __Find_arg(&info, "VERSION_MINOR");
  const char* patch = __Find_arg(&info, "VERSION_PATCH");
  const char* build = __Find_arg(&info, "BUILD_NUMBER");
  if (major == nullptr || minor == nullptr || patch == nullptr || build == nullptr) return;
  archive.version = std::string(major) + "." + minor + "." + patch + " build " + build;
}

}  // namespace

std::string canonical_or_given(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out(resolved);
  free(resolved);
  return out;
}

RecordKeeping::RecordKeeping(const char* command, bool changes)
    : command_(command), changes_(changes), store_(configured_state_directory()) {}

void RecordKeeping::complain_about_record(const std::string& cause) const {
  complain(command_, store_.record_path(directory_), cause);
}

bool RecordKeeping::find_directory_and_state() {
  directory_ = canonical_current_directory();
  if (directory_.empty()) return true;  // the caller says why
  std::string why;
  if (!store_.check_state(why)) {
    complain(command_, store_.directory(), changes_ ? why : "warning: " + why);
    if (changes_) return false;
  }
  if (changes_) store_.sweep_temporaries(directory_);
  return true;
}

a_record_read RecordKeeping::load_record(std::string& why) {
  std::string warning;
  const a_record_read read = store_.load(directory_, record_, why, changes_ ? nullptr : &warning);
  if (!warning.empty()) complain_about_record("warning: " + warning);
  if (read == a_record_read::kRefused || read == a_record_read::kUnsafe) complain_about_record(why);
  return read;
}

bool RecordKeeping::open_for_change() {
  if (!find_directory_and_state()) return false;
  if (directory_.empty()) {
    complain(command_, ".", std::string("no record kept: ") + strerror(errno));
    return true;
  }
  std::string why;
  switch (load_record(why)) {
    case a_record_read::kFound: had_record_ = true; break;
    case a_record_read::kNone: record_ = an_install_record{}; break;
    case a_record_read::kDamaged:
      if (!store_.set_aside(directory_, why)) {
        complain(command_, store_.directory(), "no record kept: " + why);
        return true;
      }
      complain_about_record("damaged record set aside as " + record_file_name(directory_) + ".damaged");
      record_ = an_install_record{};
      break;
    case a_record_read::kRefused:
    case a_record_read::kUnsafe: return false;
    case a_record_read::kFailed: complain(command_, store_.directory(), "no record kept: " + why); return true;
  }
  record_.directory = directory_;
  before_ = record_;
  keeping_ = true;
  return true;
}

bool RecordKeeping::open_existing() {
  if (!find_directory_and_state()) return false;
  if (directory_.empty()) {
    complain(command_, ".", strerror(errno));
    return false;
  }
  std::string why;
  a_record_read read = load_record(why);
  const std::string system = system_state_directory();
  if (read == a_record_read::kNone && !changes_ && !system.empty() && system != store_.directory()) {
    // Only read from here on: nothing is ever written to the system's
    // state directory by a user who is not root.
    store_ = RecordStore(system);
    read = load_record(why);
  }
  switch (read) {
    case a_record_read::kFound: break;
    case a_record_read::kNone:
      nothing_recorded_ = true;
      complain(command_, directory_, "nothing is recorded for this install directory");
      return false;
    case a_record_read::kDamaged: complain_about_record("damaged record: " + why); return false;
    case a_record_read::kRefused:
    case a_record_read::kUnsafe: return false;
    case a_record_read::kFailed: complain(command_, store_.directory(), why); return false;
  }
  had_record_ = true;
  before_ = record_;
  keeping_ = true;
  return true;
}

bool RecordKeeping::open_if_recorded() {
  if (!find_directory_and_state()) return false;
  std::string why;
  if (directory_.empty()) return true;
  switch (load_record(why)) {
    case a_record_read::kFound: break;
    case a_record_read::kRefused:
    case a_record_read::kUnsafe: return false;
    default: return true;
  }
  had_record_ = true;
  before_ = record_;
  keeping_ = true;
  return true;
}

void RecordKeeping::keep_before(const std::string& backup_dir) {
  if (!keeping_ || backup_dir.empty()) return;
  struct stat st;
  // Nothing was backed up: there is nothing for a restore to undo.
  if (stat(backup_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  std::string why;
  if (!store_.keep_before(directory_, canonical_or_given(backup_dir), had_record_ ? &before_ : nullptr, why))
    complain(command_, store_.directory(), "record before this " + std::string(command_) + " not kept: " + why);
}

bool RecordKeeping::save() {
  if (!keeping_) return false;
  std::string why;
  bool saved;
  if (writer_.is_open() && files_added_ > 0) {
    writer_.put(std::string("\n ],\n") + record_members_text(record_, nullptr) + "\n}\n");
    saved = writer_.commit(why);
  } else {
    saved = record_.files.empty() ? store_.drop(directory_, why) : store_.save(record_, why);
  }
  if (!saved) complain(command_, store_.directory(), "no record kept: " + why);
  return saved;
}

bool RecordKeeping::add_file(const std::string& path, const a_recorded_file& file) {
  if (!writer_.is_open()) {
    std::string why;
    if (writer_failed_ || !store_.open_writer(directory_, writer_, why)) {
      writer_failed_ = true;
      return false;
    }
    writer_.put("{\n \"files\": [");
  }
  writer_.put((files_added_ == 0 ? "\n  " : ",\n  ") + record_file_line(path, file));
  ++files_added_;
  return true;
}

a_recorded_install RecordKeeping::describe_install(Tic& set, const std::string& options, bool complete) const {
  a_recorded_install install;
  install.command = command_;
  install.when = record_time(static_cast<int64_t>(time(nullptr)));
  install.kestrel = kKestrelRelease;
  install.complete = complete;
  install.options = options;
  const TicOptions& table = set.get_toc().options;
  const unsigned long long mask = table.option_mask(options);
  for (const auto& [name, option] : table.option_map)
    if ((option_bit_value(option.bit) & mask) != 0) install.selected.push_back(name);
  for (const Tic* member : set.archives()) {
    a_recorded_archive archive;
    archive.path = member->path() != nullptr ? canonical_or_given(member->path()) : "";
    struct stat st;
    if (member->descriptor() >= 0 && fstat(member->descriptor(), &st) == 0)
      archive.size = static_cast<uint64_t>(st.st_size);
    std::memcpy(archive.mac, member->loaded_header(), kDigestSize);
    read_product(member->path(), archive);
    install.archives.push_back(archive);
  }
  return install;
}
