// A view of bytes held in memory, for the decoders of the on-disk forms.
//
// A decoder takes its input from the front of a ByteSpan and advances it past
// what it consumed, so a caller can feed a table whole or piece by piece. The
// span never owns its bytes: the caller's buffer must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

class ByteSpan {
 public:
  ByteSpan() = default;
  ByteSpan(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  explicit ByteSpan(std::string_view text) : ByteSpan(text.data(), text.size()) {}

  const unsigned char* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // The bytes from |offset| on; empty when |offset| is at or past the end.
  ByteSpan from(uint64_t offset) const {
    return offset >= size_ ? ByteSpan(data_ + size_, 0) : ByteSpan(data_ + offset, size_ - offset);
  }

  // Copies the first |size| bytes into |out| and drops them. False, leaving
  // the span as it was, when fewer are held.
  bool take(void* out, size_t size) {
    if (size > size_) return false;
    if (size > 0) std::memcpy(out, data_, size);
    drop(size);
    return true;
  }

  // REQUIRES: size <= this->size()
  void drop(size_t size) {
    data_ += size;
    size_ -= size;
  }

  std::string_view as_text() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
};
