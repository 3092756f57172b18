#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/inventory.h"
#include "cli/record_keeping.h"
#include "display/message.h"
#include "platform/json.h"

namespace {

// A text of the record as status shows it: "-" when empty.
std::string shown(const std::string& text) { return text.empty() ? "-" : printable(text); }

void print_install(const a_recorded_install& install) {
  printf("%s %s\n", install.command.c_str(), install.when.c_str());
  printf("  by %s\n", install.kestrel.c_str());
  printf("  complete %s\n", install.complete ? "yes" : "no");
  printf("  options %s\n", shown(install.options).c_str());
  std::string selected;
  for (const std::string& name : install.selected) selected += (selected.empty() ? "" : " ") + printable(name);
  printf("  selected %s\n", selected.empty() ? "-" : selected.c_str());
  for (const a_recorded_archive& archive : install.archives) {
    printf("  archive %s\n", shown(archive.path).c_str());
    printf("    size %llu\n", static_cast<unsigned long long>(archive.size));
    printf("    mac %s\n", hex_text(archive.mac, kDigestSize).c_str());
    printf("    version %s\n", shown(archive.version).c_str());
  }
}

void print_record(const an_install_record& record) {
  printf("directory %s\n", printable(record.directory).c_str());
  for (const std::string& version : record.versions()) printf("version %s\n", printable(version).c_str());
  printf("files %zu\n", record.files.size());
  for (const a_recorded_install& install : record.installs) print_install(install);
}

}  // namespace

// Prints what the install directory's record holds: the directory, the
// product versions, the number of files, and each install or upgrade with
// its options and archives; with --json one document; with --files its
// files. Reads the record only: the install tree is not looked at (verify
// compares it). 1 with one line when nothing is recorded. --all and
// --owner look at every installation recorded instead (cli/inventory.h).
int CommandStatus::run() {
  if (!args.empty()) {
    usage();
    return -1;
  }
  if ((all ? 1 : 0) + (files ? 1 : 0) + (owner_asked ? 1 : 0) > 1) {
    complain("status", "--all, --files, --owner", "one at a time");
    return -1;
  }
  if ((all || owner_asked) && !directory.empty()) {
    complain("status", "-d", "--all and --owner look at every installation: leave out -d");
    return -1;
  }
  if (owner_asked && owner.empty()) {
    complain("status", "--owner", "name the path to look for");
    return -1;
  }
  if (all) return print_installations(json);
  if (owner_asked) return print_owners(owner, json);
  RecordKeeping records("status", false);
  if (!directory.empty() && chdir(directory.c_str()) != 0) {
    complain("status", directory, strerror(errno));
    return -1;
  }
  if (!records.open_existing()) return records.nothing_recorded() ? 1 : -1;
  const an_install_record& record = records.record();
  if (files) return print_recorded_files(record, json);
  if (json)
    printf("%s\n", json_document(record_summary(record)).c_str());
  else
    print_record(record);
  return 0;
}
