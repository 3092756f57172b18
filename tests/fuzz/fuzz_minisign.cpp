// minisign's signature and public key files: a signature file lies beside
// every archive and is as hostile as the archive. The input is decoded as
// both. Checked: decoding never reads past the text; a decoded signature's
// trusted comment is one line, found in the text after its prefix; a
// decoded key's id prints as 16 hex digits; and the comment signature of a
// decoded signature is checked against the decoded key without harm.
#include <cstring>
#include <string>
#include <string_view>

#include "memory_file.h"
#include "sign/public_key.h"
#include "sign/signature_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Result<a_signature> decoded = decode_signature(text);
  const bool is_signature = decoded.ok();
  FUZZ_CHECK(is_signature || !decoded.failure().text().empty(), "a refused signature says why");
  const a_signature signature = is_signature ? decoded.value() : a_signature();
  if (is_signature) {
    FUZZ_CHECK(signature.trusted_comment.find('\n') == std::string::npos, "trusted comment spans lines");
    FUZZ_CHECK(text.find("trusted comment: " + signature.trusted_comment) != std::string::npos,
               "trusted comment not from the text");
  }
  const Result<a_public_key> decoded_key = decode_public_key(text);
  const bool is_key = decoded_key.ok();
  FUZZ_CHECK(is_key || !decoded_key.failure().text().empty(), "a refused key says why");
  const a_public_key key = is_key ? decoded_key.value() : a_public_key();
  if (is_key) {
    const std::string id = key_id_text(key.id);
    FUZZ_CHECK(id.size() == 16 && id.find_first_not_of("0123456789ABCDEF") == std::string::npos, "key id");
  }
  if (is_signature && is_key && signing_library_ready()) {
    comment_verifies(signature, key);
    const unsigned char hash[kFileHashSize] = {};
    file_verifies(signature, key, hash);
  }
  return 0;
}
