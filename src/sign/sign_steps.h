// The steps of checking signatures. Their codes lie in the range the error
// word never carries (platform/failure.h): the commands say them in their
// one-line messages.
#pragma once

#include "platform/failure.h"

inline constexpr a_step kStepTrustedKeys{0x740, "cannot use the trusted keys"};
inline constexpr a_step kStepMinisignFile{0x741, "cannot read the file"};
inline constexpr a_step kStepPublicKey{0x742, "not a minisign public key"};
inline constexpr a_step kStepSignatureFile{0x743, "not a minisign signature"};
// An archive refused: "no signature", "signed by unknown key ...".
inline constexpr a_step kStepSignature{0x744, "signature refused"};
inline constexpr a_step kStepSigningLibrary{0x745, "cannot start"};
inline constexpr a_step kStepReadArchive{0x746, "cannot read the archive"};
