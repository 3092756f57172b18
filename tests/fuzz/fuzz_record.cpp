// The record of an installation read from any bytes, as a damaged or
// hostile state file would give them. Checked: reading never crashes or
// throws; a record that reads writes out as a text that reads back to the
// same record; read as a stream from a file, the same bytes are refused
// or give the same record.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/install_record.h"
#include "install/record_stream.h"
#include "platform/json.h"

namespace {

// The record |text| as a command reads it from its file.
bool read_as_stream(const std::string& text, an_install_record& record) {
  UniqueFd fd(memfd_create("record", MFD_CLOEXEC));
  if (!fd.valid() || write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  Json head;
  Result<std::shared_ptr<const RecordStream>> stream = RecordStream::open(std::move(fd), head);
  if (!stream || !record_from_json(head, record).ok()) return false;
  record.files.attach(std::move(stream.value()));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  an_install_record record, streamed;
  const bool read = record_from_text(input, record).ok();
  // One file's object past the stream's bound is refused only there.
  if (size < kLongestRecordFile &&
      (read_as_stream(input, streamed) != read ||
       (read && json_document(record_to_json(streamed)) != json_document(record_to_json(record)))))
    std::abort();
  if (!read) return 0;
  std::string text;
  if (!put_record_text(record, nullptr, [&text](const std::string& piece) { text += piece; }).ok()) std::abort();
  an_install_record again;
  if (!record_from_text(text, again).ok() || json_document(record_to_json(again)) != json_document(record_to_json(record)))
    std::abort();
  record_summary(record);
  return 0;
}
