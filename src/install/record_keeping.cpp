#include "install/record_keeping.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "install/install_steps.h"
#include "install/recorded_files.h"
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

RecordKeeping::RecordKeeping(const char* command, a_note note, bool changes)
    : command_(command), note_(std::move(note)), changes_(changes), store_(configured_state_directory()) {}

namespace {

// A record or state directory that is refused: no kestrel wrote it for the
// directory, or others may have.
bool refused(const a_failure& failure) {
  return failure.step == kStepForgedRecord || failure.step == kStepUnsafeRecord;
}

}  // namespace

// A state directory others may have written is refused by a command that
// changes the installation; one that only reads says so and goes on.
Outcome RecordKeeping::check_state() const {
  const Outcome checked = store_.check_state();
  if (checked || changes_) return checked;
  note(checked.failure().subject, "warning: " + checked.failure().cause);
  return Outcome();
}

void RecordKeeping::note(const std::string& subject, const std::string& cause) const {
  if (note_) note_(failure_of(kStepRecord, subject, cause));
}

Outcome RecordKeeping::open_for_change(int root, unsigned jobs) {
  directory_ = canonical_current_directory();
  if (directory_.empty()) {
    note(".", std::string("no record kept: ") + strerror(errno));
    return Outcome();
  }
  if (Outcome state = check_state(); !state) return state;
  if (Outcome loaded = load(true); !loaded) {
    if (refused(loaded.failure())) return loaded;
    note(loaded.failure().subject, "no record kept: " + loaded.failure().text());
    return Outcome();
  }
  keeping_ = true;
  take_journal(a_journal_use::kRecover, root, jobs);
  before_ = record_;
  return Outcome();
}

Outcome RecordKeeping::open_existing(a_journal_use use, int root, unsigned jobs) {
  directory_ = canonical_current_directory();
  if (directory_.empty()) return failure_of(kStepRecord, ".");
  if (Outcome state = check_state(); !state) return state;
  if (Outcome loaded = load(false); !loaded) return loaded;
  keeping_ = true;
  take_journal(use, root, jobs);
  const std::string system = system_state_directory();
  if (!had_record_ && !changes_ && !system.empty() && system != store_.directory()) {
    // A user other than root with no record of the directory reads the
    // system's, and only reads it: nothing is ever written to the system's
    // state directory by such a user, and its journal is shown, not taken
    // in.
    store_ = RecordStore(system);
    if (Outcome state = check_state(); !state) return state;
    if (Outcome loaded = load(false); !loaded) return loaded;
    take_journal(use == a_journal_use::kShow ? use : a_journal_use::kCheck, root, jobs);
  }
  if (!had_record_) {
    keeping_ = false;
    errno = 0;
    return failure_of(kStepNothingRecorded, directory_, "nothing is recorded for this install directory");
  }
  before_ = record_;
  return Outcome();
}

Outcome RecordKeeping::open_if_recorded(int root, unsigned jobs) {
  const Outcome opened = open_existing(a_journal_use::kRecover, root, jobs);
  if (opened) return opened;
  keeping_ = false;
  return refused(opened.failure()) ? opened : Outcome();
}

Outcome RecordKeeping::load(bool set_aside) {
  a_failure warning;
  const Result<bool> found = store_.load(directory_, record_, changes_ ? nullptr : &warning);
  if (warning.failed()) note(warning.subject, "warning: " + warning.cause);
  if (found && found.value()) {
    had_record_ = true;
  } else if (found || found.failure().step == kStepDamagedRecord) {
    if (!found && !set_aside) {
      a_failure damaged = found.failure();
      damaged.cause = "damaged record: " + damaged.cause;
      return damaged;
    }
    if (!found) {
      if (Outcome aside = store_.set_aside(directory_); !aside) return aside;
      note(store_.record_path(directory_), "damaged record set aside as " + record_file_name(directory_) + ".damaged");
    }
    record_ = an_install_record{};
  } else {
    return found.failure();
  }
  record_.directory = directory_;
  return Outcome();
}

// A journal whose run the record names is over. Any other is taken in as
// |use| says; one that cannot be read, or is another directory's, is set
// aside by a command that recovers (and left alone by one that reads).
void RecordKeeping::take_journal(a_journal_use use, int root, unsigned jobs) {
  if (use == a_journal_use::kRecover) store_.sweep_temporaries(directory_);
  const std::string path = journal_path(store_.record_path(directory_));
  Result<a_journal> read = read_journal(path);
  if (read && read->directory != directory_) {
    errno = 0;
    read = failure_of(kStepRecord, path, "journal of another install directory");
  }
  if (!read) {
    if (!read.failure().failed() || use != a_journal_use::kRecover) return;
    if (rename(path.c_str(), (path + ".damaged").c_str()) == 0)
      note(path, read.failure().text() + ": set aside as " + record_file_name(directory_) + ".journal.damaged");
    return;
  }
  if (read->run == record_.run) {
    if (use == a_journal_use::kRecover) unlink(path.c_str());
    return;
  }
  if (use == a_journal_use::kShow)
    show_journal(record_, read.value());
  else
    absorb_journal(record_, read.value(), root, jobs);
  taken_away_ = read->gone;
  had_record_ = true;
  if (use != a_journal_use::kRecover) return;
  record_.run = read->run;
  if (save()) unlink(path.c_str());
  had_record_ = !record_.files.empty();
}

a_text_fill RecordKeeping::before_text() const {
  if (!keeping_) return nullptr;
  return [this](const std::function<void(const std::string&)>& put) {
    return record_before_text(directory_, had_record_ ? &before_ : nullptr, put);
  };
}

void RecordKeeping::begin_run(const std::string& backup_dir, const a_recorded_install& install) {
  if (!keeping_) return;
  a_journal head;
  head.run = new_run_name();
  head.directory = directory_;
  head.backup = backup_dir.empty() ? "" : canonical_or_given(backup_dir);
  head.install = install;
  head.install.complete = false;
  Outcome begun = store_.make_directory();
  if (begun) begun = journal_.begin(journal_path(store_.record_path(directory_)), head);
  if (!begun) note(begun.failure().subject, "no journal kept: " + begun.failure().text());
  record_.run = head.run;
}

bool RecordKeeping::save() {
  return save_files([this](const a_file_put& put) {
    return record_.files.walk([&put](const std::string& path, const a_recorded_file& file) {
      put(path, file);
      return true;
    });
  });
}

// The record file is begun at the first file, so that a record left with
// none is only dropped.
bool RecordKeeping::save_files(const a_file_source& files) {
  if (!keeping_) return false;
  const bool files_first = !had_record_;
  const std::string members = record_members_text(record_, nullptr);
  RecordFileWriter writer;
  Outcome saved;
  size_t count = 0;
  Outcome walked = files([&](const std::string& path, const a_recorded_file& file) {
    if (count++ == 0) {
      saved = store_.open_writer(directory_, writer);
      writer.put(files_first ? "{\n \"files\": [" : "{\n" + members + ",\n \"files\": [");
    }
    if (saved) writer.put((count == 1 ? "\n  " : ",\n  ") + record_file_line(path, file));
  });
  if (!walked) saved = walked.failure().about(store_.record_path(directory_));
  if (saved && count == 0) saved = store_.drop(directory_);
  if (saved && count > 0) {
    writer.put(files_first ? "\n ],\n" + members + "\n}\n" : std::string("\n ]\n}\n"));
    saved = writer.commit();
  }
  if (!saved) {
    note(saved.failure().subject, "no record kept: " + saved.failure().text());
    return false;
  }
  journal_.remove();
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
