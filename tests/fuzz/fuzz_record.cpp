// The record of an installation read from any bytes, as a damaged or
// hostile state file would give them. Checked: reading never crashes or
// throws; a record that reads writes out as a text that reads back to the
// same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/install_record.h"
#include "platform/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  an_install_record record;
  if (!record_from_text(std::string(reinterpret_cast<const char*>(data), size), record).ok()) return 0;
  std::string text;
  if (!put_record_text(record, nullptr, [&text](const std::string& piece) { text += piece; }).ok()) std::abort();
  an_install_record again;
  if (!record_from_text(text, again).ok() || json_document(record_to_json(again)) != json_document(record_to_json(record)))
    std::abort();
  record_summary(record);
  return 0;
}
