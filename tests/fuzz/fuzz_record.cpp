// The record of an installation read from any bytes, as a damaged or
// hostile state file would give them. Checked: reading never crashes or
// throws; a record that reads writes out as a document that reads back to
// the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/install_record.h"
#include "platform/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Json document;
  std::string why;
  if (!parse_json(std::string(reinterpret_cast<const char*>(data), size), document, why)) return 0;
  an_install_record record;
  if (!record_from_json(document, record, why)) return 0;
  const std::string text = json_document(record_to_json(record));
  an_install_record again;
  if (!parse_json(text, document, why) || !record_from_json(document, again, why) ||
      json_document(record_to_json(again)) != text)
    std::abort();
  record_summary(record);
  return 0;
}
