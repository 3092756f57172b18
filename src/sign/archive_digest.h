// The one pass over an archive that its signature is checked on.
//
// The archive is read from its first byte to its last, in order, on the
// Tic's own descriptor (the one its streams are read from later), and every
// byte goes into the BLAKE2b-512 that a prehashed signature signs. The same
// reads give the header and the tables once more: decoded again and
// compared with those the Tic loaded, they show whether the tables in use
// are the bytes the hash covered. The streams need no such care: each is
// bound to its entry's MAC, and the entries lie in the tables.
#pragma once

#include <string>

#include "platform/failure.h"
#include "sign/signature_file.h"

class Tic;

struct an_archive_digest {
  unsigned char hash[kFileHashSize] = {};
  // The header and the tables the Tic works from are those of the pass.
  bool same_tables = false;
};

// Reads |archive| (one open archive with its tables loaded and kept) whole;
// a failure of kStepReadArchive about it when it cannot be read.
Result<an_archive_digest> digest_archive(const Tic& archive);

// The BLAKE2b-512 of what |descriptor| holds from offset 0 to its end; a
// failure of kStepReadArchive, naming nothing, when it cannot be read.
Outcome digest_file(int descriptor, unsigned char hash[kFileHashSize]);
