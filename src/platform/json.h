// JSON documents: the one place the programs build, write and read JSON.
//
// Documents are nlohmann::ordered_json values, so that keys come out in the
// order a program puts them in. Names and texts from archives and file
// systems are byte strings that need not be UTF-8; a JSON document holds
// only Unicode text, so they pass through one of two conversions:
//   json_text   for documents people and scripts read (tictool dump,
//               kestrel status and verify): valid UTF-8 passes as it is,
//               every other byte stands for the character of its value
//               (0xff as U+00FF), so the document is always valid;
//   json_bytes  for documents the programs read back (the installation
//               record): valid UTF-8 is a string, anything else an object
//               {"hex": "<bytes in hex>"}, so every byte string comes back
//               exactly (bytes_from_json).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/failure.h"

using Json = nlohmann::ordered_json;

// True when |bytes| is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool is_utf8(const std::string& bytes);

Json json_text(const std::string& bytes);
Json json_bytes(const std::string& bytes);
// The byte string json_bytes made |value| from; false when |value| is
// neither form.
bool bytes_from_json(const Json& value, std::string& out);

// Lower-case hexadecimal digits of |size| bytes, and back (false unless
// |text| is exactly |size| bytes of hex digits).
std::string hex_text(const unsigned char* bytes, size_t size);
bool bytes_from_hex(const std::string& text, unsigned char* out, size_t size);

// |document| as text: with |indent| below 0 on one line, else one member
// per line indented by that many blanks; ends without a newline.
std::string json_document(const Json& document, int indent = 2);

// A document whose last member is a list, written as the list's items
// come, so that a list of a million items is never held: the bytes of
// json_document(document) (indent 2) with the items in the list, then a
// newline, handed to |put| in pieces.
class JsonListWriter {
 public:
  using a_put = std::function<void(const std::string&)>;
  // |head|'s last member is the list, empty; what comes before it is
  // written now.
  JsonListWriter(const Json& head, a_put put);
  void item(const Json& item);
  // Ends the list and the document.
  void end();

 private:
  a_put put_;
  std::string tail_;
  bool first_ = true;
};

// The document |text| holds; a failure of kStepParseJson when it is not one
// JSON document.
Result<Json> parse_json(const std::string& text);
