#include "platform/json.h"

#include <cstdint>
#include <utility>

#include "platform/platform_steps.h"

namespace {

// The length of the UTF-8 character at |i| of |p| (|n| bytes), or 0 when
// none starts there.
size_t utf8_length(const unsigned char* p, size_t i, size_t n) {
  const unsigned char c = p[i];
  if (c < 0x80) return 1;
  const size_t length = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (length == 0 || i + length > n || (length == 2 && c < 0xc2)) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((p[i + k] & 0xc0) != 0x80) return 0;
  if (length == 3) {
    const unsigned cp = ((c & 0x0fu) << 12) | ((p[i + 1] & 0x3fu) << 6) | (p[i + 2] & 0x3fu);
    if (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  }
  if (length == 4) {
    const unsigned cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3fu) << 12);
    if (cp < 0x10000 || cp > 0x10ffff) return 0;
  }
  return length;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool is_utf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = utf8_length(p, i, bytes.size());
    if (length == 0) return false;
    i += length;
  }
  return true;
}

Json json_text(const std::string& bytes) {
  if (is_utf8(bytes)) return bytes;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = utf8_length(p, i, bytes.size());
    if (length != 0) {
      out.append(bytes, i, length);
      i += length;
      continue;
    }
    // A stray byte 0x80 to 0xff: the two-byte UTF-8 form of U+0080..U+00FF.
    out += static_cast<char>(0xc0 | (p[i] >> 6));
    out += static_cast<char>(0x80 | (p[i] & 0x3f));
    ++i;
  }
  return out;
}

Json json_bytes(const std::string& bytes) {
  if (is_utf8(bytes)) return bytes;
  Json object = Json::object();
  object["hex"] = hex_text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return object;
}

bool bytes_from_json(const Json& value, std::string& out) {
  if (value.is_string()) {
    out = value.get<std::string>();
    return true;
  }
  if (!value.is_object() || value.size() != 1) return false;
  const auto hex = value.find("hex");
  if (hex == value.end() || !hex->is_string()) return false;
  const std::string& text = hex->get_ref<const std::string&>();
  if (text.size() % 2 != 0) return false;
  out.assign(text.size() / 2, '\0');
  return bytes_from_hex(text, reinterpret_cast<unsigned char*>(&out[0]), out.size());
}

std::string hex_text(const unsigned char* bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xf];
  }
  return out;
}

bool bytes_from_hex(const std::string& text, unsigned char* out, size_t size) {
  if (text.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    const int high = hex_digit(text[2 * i]);
    const int low = hex_digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

std::string json_document(const Json& document, int indent) {
  // Every string was made valid by json_text or json_bytes; a stray one
  // still never throws, its bad bytes are replaced.
  return document.dump(indent, ' ', false, Json::error_handler_t::replace);
}

JsonListWriter::JsonListWriter(const Json& head, a_put put) : put_(std::move(put)) {
  const std::string text = json_document(head);
  const size_t list = text.rfind("[]");
  put_(text.substr(0, list + 1));
  tail_ = text.substr(list + 1);
}

// An item sits two levels deep: each of its lines is indented by four.
void JsonListWriter::item(const Json& item) {
  std::string text = json_document(item);
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 5)) text.insert(at + 1, "    ");
  put_((first_ ? "\n    " : ",\n    ") + text);
  first_ = false;
}

void JsonListWriter::end() { put_((first_ ? "" : "\n  ") + tail_ + "\n"); }

Result<Json> parse_json(const std::string& text) {
  Json document = Json::parse(text, nullptr, false);
  if (document.is_discarded()) return refusal_of(kStepParseJson, "");
  return Result<Json>(std::move(document));
}
