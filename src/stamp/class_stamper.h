// Rewriting the version class of a stamp block while content streams past.
//
// The content arrives in buffers of any size; the classes keep only a few
// words of state between buffers and change the caller's buffers in place.
#pragma once

#include <cstdint>
#include <memory>

// Finds a tag in a sequence of buffers, also when the tag is cut in two by a
// buffer boundary, and tells where the text after the tag begins.
//
// Invariant: matched + pending is the tag's length until the tag is found;
// after that pending is 0 and matched is the tag's length.
struct a_post_tag_matcher {
  a_post_tag_matcher() = default;

  // Starts looking for a copy of |tag| (null: as clear_tag).
  void set_tag(const char* tag);
  // Leaves the matcher without a tag.
  void clear_tag();

  // Examines the next buffer of the stream. Returns -2 when no tag is set;
  // -1 when the tag does not end inside this buffer (it may have begun in
  // it); otherwise the index at which the text after the tag begins. Once
  // the tag has been found every later call returns 0, so a tag ending
  // exactly at a buffer's end gives -1 for that buffer and 0 for the next.
  int match(const char* buffer, unsigned int length);

  std::unique_ptr<char[]> tag;
  // Tag characters still to be matched.
  uint32_t pending = 0;
  // Tag characters already matched at the end of earlier buffers; the
  // pending part starts at this index of the tag.
  uint32_t matched = 0;
};

// Finds the stamp block's marker, then "VERSION_CLASS=" after it, and
// overwrites the two characters behind that key with the given class, also
// when they fall into two buffers.
struct a_version_class_stamper {
  // Only the first two characters of |version_class| are used; a
  // one-character class writes its terminator as the second character, and
  // an empty (or null) class writes nothing.
  explicit a_version_class_stamper(const char* version_class);

  // Processes the next buffer in place. 1 once both class characters have
  // been written, or when there is nothing to write; 0 otherwise. After it
  // has returned 1 it leaves every further buffer as it is.
  unsigned operator()(char* buffer, unsigned int length);

  a_post_tag_matcher matcher;
  // 0: looking for the marker; 1: looking for the key; 2: the first class
  // character was written at the very end of a buffer and the second is due
  // at the start of the next one.
  uint32_t state = 0;
  char version_class[2];
  uint32_t written = 0;
};
