// What tictool dump shows of an archive's signature: the signature file's
// key id, algorithm and trusted comment, and whether it verifies the
// archive with the configured keys, as kestrel would check it.
#pragma once

#include <string>

#include "platform/failure.h"
#include "sign/signature_file.h"
#include "sign/trusted_keys.h"

struct a_signature_report {
  std::string file;           // <archive>.minisig
  bool decoded = false;       // the file is a minisign signature
  a_signature signature;      // when decoded
  bool checked = false;       // keys are configured and could be read
  bool verifies = false;      // when checked
  // Not checked: why not; refused: why; verified: the trusted key's file.
  std::string reason;
};

// Fills |*out| for |archive| when it has a signature file; false when it
// has none. |keys| are the configured keys, as |trust| says they loaded.
bool report_signature(const std::string& archive, const TrustedKeys& keys, const Outcome& trust,
                      a_signature_report* out);
