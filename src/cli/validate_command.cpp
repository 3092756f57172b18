#include "cli/commands.h"
#include "crypto/archive_key.h"
#include "tic/tic.h"

// Checks each archive in turn: it must open, its table of contents must load
// and its integrity code must match the product's key. Stops at the first
// archive that fails; prints nothing either way.
int CommandValidate::run() {
  const ArchiveKey key;
  int result = 0;
  for (const std::string& name : args) {
    Tic tic(nullptr, false, key.bytes(), key.length());
    if (tic.open(name.c_str()) != 0 || tic.validate() != 0) {
      result = -1;
      break;
    }
  }
  return result;
}
