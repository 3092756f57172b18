// What verify and remove share: the install directory compared with the
// files a set of archives selects.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "install/installed_files.h"

class InstallLock;

// Changes into |directory| (when not empty), opens it as |root| and takes
// its lock into |lock| when that is not null; |jobs| receives the number of
// workers KESTREL_JOBS asks for. 0, or -1 after one line on standard error.
int open_install_directory(const char* command, const std::string& directory, UniqueFd& root, InstallLock* lock,
                           unsigned& jobs);

// Changes into |directory| (when not empty), takes the install directory's
// lock into |lock| when it is not null (a command that changes the
// directory), checks every archive of the set |archives| as install does,
// and compares each file |options| selects with what is installed
// (install/installed_files.h), on as many workers as KESTREL_JOBS says;
// then hands each file to |each|, in name order. |root| receives the install
// directory. 0, or -1 after one line on standard error, "kestrel: <command>:
// <what>: <cause>", with no file handed out.
int compare_with_install_directory(const char* command, const std::string& directory,
                                   const std::vector<std::string>& archives, const std::string& options,
                                   UniqueFd& root, InstallLock* lock,
                                   const std::function<void(const an_installed_file&)>& each);
