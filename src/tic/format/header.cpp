#include "tic/format/header.h"

#include "platform/byte_order.h"
#include "tic/format/format_steps.h"

TicHeader::TicHeader()
    : mac{},
      toc_offset(0),
      entry_count(0),
      option_offset(0),
      option_count(0),
      string_offset(0),
      string_count(0),
      version_offset(0),
      version_length(0),
      build(7254),
      major(17),
      minor(0),
      patch(11),
      padding(0) {}

bool TicHeader::is_opposite_endian() const { return reverse_bytes(toc_offset) < toc_offset; }

void TicHeader::swap_endian() {
  reverse_in_place(toc_offset);
  reverse_in_place(entry_count);
  reverse_in_place(option_offset);
  reverse_in_place(option_count);
  reverse_in_place(string_offset);
  reverse_in_place(string_count);
  reverse_in_place(version_offset);
  reverse_in_place(version_length);
  reverse_in_place(build);
}

Outcome TicHeader::decode_from(ByteSpan* in, bool* swap) {
  if (!in->take(this, kSize)) return refusal_of(kStepHeader, "");
  *swap = is_opposite_endian();
  if (*swap) swap_endian();
  return Outcome();
}

void TicHeader::encode_to(std::string* out) const { out->append(reinterpret_cast<const char*>(this), kSize); }
