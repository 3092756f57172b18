// The real minisign program, so that the signatures the tests check are
// made the way release engineers make them.
#pragma once

#include <string>
#include <vector>

struct MinisignKeyPair {
  std::string public_key;  // <dir>/<name>.pub
  std::string secret_key;  // <dir>/<name>.key, without a password
  std::string id;          // the key id, in 16 hex digits
};

// Makes a key pair in |dir| (minisign -G -W).
MinisignKeyPair make_key_pair(const std::string& dir, const std::string& name);

// Signs |file| into <file>.minisig (minisign -S), with the switches |extra|
// ("-l" for the legacy form, "-t" and a trusted comment).
void minisign_sign(const MinisignKeyPair& key, const std::string& file, const std::vector<std::string>& extra = {});
