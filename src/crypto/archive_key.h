// The archive key: the secret byte string that keys the whole-archive code,
// the per-file codes and the record transform.
//
// The key is never stored whole. The key builder puts it together at run time
// by walking a stored byte table, reached through |obfuscated_key|:
//   start at position 12; while the byte there is not zero, append it to the
//   key and move on by that byte's value taken as a signed 8-bit number.
// The table holds the key's bytes scattered along that walk, a zero where the
// walk ends, and noise everywhere else.
#pragma once

// Size of the buffer the commands build the key into.
constexpr unsigned kArchiveKeyBufferSize = 1024;

extern const unsigned char* obfuscated_key;

// Writes the key into |buffer| as NUL-terminated text: zero-fills the |size|
// bytes, walks the table until its terminating zero or until |size| bytes are
// out, then sets buffer[size - 1] to zero. The result is at most size - 1
// bytes long. Does nothing when |size| is 0.
void __Xk(char* buffer, unsigned int size);

// The product's archive key for as long as a command needs it: built with
// __Xk into a buffer of kArchiveKeyBufferSize bytes when constructed, wiped
// when destroyed. Lent to the archive objects as bytes and length.
class ArchiveKey {
 public:
  ArchiveKey();
  ~ArchiveKey();
  ArchiveKey(const ArchiveKey&) = delete;
  ArchiveKey& operator=(const ArchiveKey&) = delete;

  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(buffer_); }
  // The length of the key's text; 0 would mean no key.
  int length() const { return length_; }

 private:
  char buffer_[kArchiveKeyBufferSize];
  int length_;
};
