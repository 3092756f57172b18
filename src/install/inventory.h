// The installations kestrel recorded on the machine, for the inventory
// (status --all, --owner): what dpkg's database tells of packages.
//
// The records are those of the state directory (install/record_store.h)
// and, for a user other than root, the system's records of the directories
// the user has none of. A record that cannot be read is told and passed
// over, so that the others still show.
#pragma once

#include <functional>
#include <string>

#include "install/install_record.h"
#include "platform/failure.h"

// Hands |each| every installation recorded, the user's records first, in
// byte-wise order of their file names. A record that cannot be read, or is
// refused, goes to |noted| instead; one that others may have written goes
// there as a warning ("warning: ..."), and to |each| all the same.
void for_each_installation(const std::function<void(const a_failure&)>& noted,
                           const std::function<void(an_install_record&)>& each);

// The absolute path |path| names (taken from the current directory), its
// directories resolved but not its last element, so that a symbolic link
// is asked about and not its target.
std::string owned_path(const std::string& path);

// The name of |path| below the install directory |directory|, or empty when
// it does not lie below it.
std::string name_below(const std::string& directory, const std::string& path);
