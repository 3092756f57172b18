// The publishers' keys this machine trusts.
//
// KESTREL_TRUSTED_KEYS is a colon-separated list of minisign public key
// files and directories, each an absolute path; in a directory every file
// named *.pub is a key (names beginning with "." are passed over, and
// subdirectories are not searched). Empty elements are skipped, so the
// variable set to the empty text names no key. When the variable is unset,
// the directory /etc/kestrel/trusted-keys is used if it exists.
//
// Every entry must give keys: a relative path, an entry that cannot be
// read, a file that is not a key, a directory without a key and two
// different keys with one id fail the load, so that a damaged or emptied
// configuration stops the commands instead of switching the check off.
#pragma once

#include <string>
#include <vector>

#include "platform/failure.h"
#include "sign/public_key.h"

constexpr const char kTrustedKeysVariable[] = "KESTREL_TRUSTED_KEYS";
constexpr const char kTrustedKeysDirectory[] = "/etc/kestrel/trusted-keys";

class TrustedKeys {
 public:
  struct a_trusted_key {
    a_public_key key;
    std::string file;  // where it was read from
  };

  // Loads the keys |setting| names (the variable's value, null when it is
  // unset: then |default_directory| when it exists). A failure of
  // kStepTrustedKeys about the entry (or the file in it) when the
  // configuration cannot be used; the keys read so far stay.
  Outcome load(const char* setting, const std::string& default_directory);
  // The same from the environment and the default directory.
  Outcome load_configured();

  // No key configured: nothing is checked.
  bool empty() const { return keys_.empty(); }
  // The key with |id|, or null.
  const a_trusted_key* find(const unsigned char id[kKeyIdSize]) const;

 private:
  Outcome load_entry(const std::string& entry);
  Outcome load_file(const std::string& path);

  std::vector<a_trusted_key> keys_;
};
