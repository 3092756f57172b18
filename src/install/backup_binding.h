// What a backup tree says of itself, in a directory of its own at its top,
// ".kestrel-backup", which extraction keeps out of every archive's reach:
//   directory    the canonical path of the install directory the tree was
//                made for, and a newline: a tree serves that directory
//                alone, so one backup directory named for two install
//                directories cannot mix their backups;
//   record.json  the install directory's record as it was before the first
//                run into the tree (a record document, or one that says
//                there was none), which restore puts back once the tree is
//                restored.
// Both go with the tree: a tree removed by hand takes its record along.
// Written whole or not at all (a temporary, synced, renamed); read without
// following a symbolic link.
#pragma once

#include <functional>
#include <string>

#include "platform/failure.h"
#include "platform/fd.h"

constexpr const char kBackupOwnDirectory[] = ".kestrel-backup";

// Hands the text of a file in pieces to the function it is given.
// Fails when the text cannot be had whole: the file is then not written.
using a_text_fill = std::function<Outcome(const std::function<void(const std::string&)>& put)>;

// Makes the backup tree open as |root| one of the install directory
// |directory|: refuses a tree made for another directory, says whose this
// one is when it does not say yet, and with |before| (not null) keeps the
// record it writes as the record before, unless one is kept already.
Outcome bind_backup_tree(int root, const std::string& directory, const a_text_fill& before);

// The install directory the tree open as |root| was made for: "" when it
// does not say (a tree made by hand, or by an earlier kestrel).
Result<std::string> backup_tree_owner(int root);

// The record kept in the tree open as |root|, opened for reading: no value
// and no failure when none is kept.
Result<UniqueFd> kept_record(int root);

// The kept record's path below the backup directory.
std::string kept_record_name();

// Removes the tree's own files, once it is restored.
void unbind_backup_tree(int root);
