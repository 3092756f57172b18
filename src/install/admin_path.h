// Paths the administrator names beside the install directory: the install
// log (install -l) and the backup directory (install -b, restore -b).
//
// Such a path is relative to the install directory or absolute, and may lead
// anywhere. Where it runs inside the install directory an archive may have
// left symbolic links, so there it is followed as installed files are: no
// symbolic link below the install directory is followed. Outside the install
// directory it is followed as the system follows it, links included: the
// administrator may point it through links of their own.
//
// The path is walked one element at a time from where it starts. Whether a
// directory reached lies in the install directory is told by its device and
// inode, so every spelling of a place inside ("log", "./log",
// "/opt/tarn/log", "../tarn/log") is recognised, and its path below the
// install directory is known: extraction keeps archives away from it.
#pragma once

#include <string>

#include "install/install_directory.h"
#include "platform/fd.h"
#include "install/install_steps.h"

struct an_admin_path {
  UniqueFd parent;       // kReached: the directory that holds the last element
  std::string base;      // the last element ("/" for the root; trailing slashes go)
  bool inside = false;   // the path lies in the install directory or is it
  std::string relative;  // when inside: its normalised path below the install
                         // directory, "" for the install directory itself
  std::string link;      // kThroughLink: the link's path below the install directory
};

// Finds where |path| lies with respect to the install directory open as
// |root|, from which a relative |path| starts, walking every element but
// the last:
//   kReached      the parent is open;
//   kAbsent       a directory on the way does not exist (errno ENOENT);
//                 inside and relative still say where the path would lie;
//   kThroughLink  a symbolic link below the install directory is on the way;
//   kFailed       anything else, in |failure| (kStepParent).
a_reach locate_admin_path(int root, const std::string& path, an_admin_path& out, a_failure& failure);

// True when the directory |ancestor| is |directory| or lies above it.
bool holds_directory(int ancestor, int directory);
