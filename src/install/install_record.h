// The record of an installation: what kestrel installed into one install
// directory, kept outside it (install/record_store.h), so that the install
// tree holds exactly what the archives hold.
//
// A record holds, for the install directory named by its canonical path:
//   installs  each install or upgrade that wrote into it, oldest first:
//             the command, when it ran, which kestrel ran it, whether it
//             finished, the option text and the options it selected, and
//             every archive it read (path, size, header MAC, the product
//             version of its stamp);
//   files     every file, directory and symbolic link put in place, by its
//             normalised path: type, permission bits as installed, size, a
//             SHA-256 of the content (of the target, for a link) and the MAC
//             of the archive entry it came from; in strictly increasing
//             byte-wise order of the paths, so that the record can be
//             walked beside the tables (install/side_by_side.h).
// Installs into one directory add up: a later file replaces the earlier
// record of its path. An upgrade replaces the whole record.
//
// The format logic is here, free of I/O: the record as a JSON document and
// back. Names are kept byte for byte (platform/json.h, json_bytes).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "install/record_files.h"
#include "install/recorded_file.h"
#include "platform/failure.h"
#include "platform/json.h"

struct a_recorded_archive {
  std::string path;  // absolute when it could be resolved
  uint64_t size = 0;
  unsigned char mac[kDigestSize] = {};  // the header's whole-archive MAC
  std::string version;                  // "17.0.11 build 7254", empty without a stamp
  std::string product;                  // the stamp's MODULE ("tarnvale"), empty without one
};

struct a_recorded_install {
  std::string command;  // "install" or "upgrade"
  std::string when;     // UTC, "2026-12-01T10:00:00Z"
  std::string kestrel;  // "kestrel 17.0.11 build 7254"
  bool complete = false;
  std::string options;                // the option text
  std::vector<std::string> selected;  // the option names it selected, sorted
  std::vector<a_recorded_archive> archives;
};

struct an_install_record {
  std::string directory;  // the install directory's canonical path
  // The run of the last install or upgrade that wrote the record
  // (install/journal.h): its journal, if still there, is taken care of.
  std::string run;
  std::vector<a_recorded_install> installs;
  a_record_files files;  // by normalised path, in byte-wise order

  // Adds |install|: an earlier install of the same archives with the same
  // option text gives way to it, so repeating an install does not grow the
  // record.
  void add_install(const a_recorded_install& install);
  // The option texts of every install since the last upgrade (which chose
  // the whole installation) joined with "|": selects what any of them
  // selected.
  std::string option_text() const;
  // The distinct product versions of the recorded archives, in order.
  std::vector<std::string> versions() const;
  // The distinct product names of the recorded archives, in order.
  std::vector<std::string> products() const;
};

// The record as a document, and back: fails (kStepDamagedRecord, saying
// why) when |document| is not a record of this format.
Json record_to_json(const an_install_record& record);
// The text of that document (with |backup|, when not null, as its member
// "backup"), handed to |put| in pieces, one file to a line: the files are
// never all held as one document, which for a large installation would
// cost many times the record itself.
// Fails when the record's files can no longer be read as they were.
Outcome put_record_text(const an_install_record& record, const std::string* backup,
                        const std::function<void(const std::string&)>& put);
// The pieces of that text, for a record written as its files come: one
// file's line, and the members other than the files ("format", "directory",
// "installs", and "backup" when |backup| is not null), without the braces.
std::string record_file_line(const std::string& name, const a_recorded_file& file);
// The file of |text| when it is a line as record_file_line writes it for
// a plain name: read without building a document. false when it is not
// one (it may still be a file; recorded_file_from_json tells).
bool plain_record_file(const std::string& text, std::string& name, a_recorded_file& file);
std::string record_members_text(const an_install_record& record, const std::string* backup);
//
// A record is read as the names of an archive are: each file goes by its
// normalised path, and a record that names a file install would refuse
// (installable_name_problem, install/installable_entry.h: "..", an
// absolute path, a control character, ...) or gives two names for one
// path is forged: no kestrel wrote it. That fails with kStepForgedRecord.
// The files may come in any order: earlier kestrels did not sort them.
Outcome record_from_json(const Json& document, an_install_record& record);

// Reads a record's text held in memory (the record a backup tree keeps;
// commands read the record file as a stream, install/record_stream.h): as
// parse_json and record_from_json, but each file is taken out of the
// document as soon as it is read, so that the files are never all held as
// one document. parse_record_text leaves the document
// (its list of files empty) in |head| and the files in |files|.
Outcome record_from_text(const std::string& text, an_install_record& record);
Outcome parse_record_text(const std::string& text, Json& head, std::map<std::string, a_recorded_file>& files);

// A record that cannot be read as one, and one no kestrel wrote, saying
// |why|.
a_failure damaged_record(const std::string& why);
a_failure forged_record(const std::string& why);

// One file of a record, and one install, as the journal (install/journal.h)
// writes them too: false when |document| is not one.
bool recorded_file_from_json(const Json& document, std::string& name, a_recorded_file& file);
Json recorded_install_json(const a_recorded_install& install);
bool recorded_install_from_json(const Json& document, a_recorded_install& install);

// What status shows of a record, as a document for status --json: the
// directory, products, versions, number of files, whether the last install
// or upgrade completed ("complete") and when it ran, the option text of
// the installation, and each install.
Json record_summary(const an_install_record& record);

// The time |seconds| after the epoch, UTC, as records hold it.
std::string record_time(int64_t seconds);
