// The steps of reading an archive: positioning at a stream, decoding it,
// listing and sizing. Their codes are those the archive module's error word
// carries (platform/error_word.h), but for the archive's own checks at the
// end, which the word never carries.
#pragma once

#include "platform/error_word.h"

// loading the table of contents
inline constexpr a_step kStepExtractLoadToc{0x591, "cannot load the table of contents"};
// creating a stream reader
inline constexpr a_step kStepReaderNew{0x5c2, "cannot create a stream reader"};
// its decompression filters
inline constexpr a_step kStepBzip2{0x5c3, "cannot set up the decompression"};
// its tar format
inline constexpr a_step kStepTar{0x5c4, "cannot set up the tar format"};
// opening it
inline constexpr a_step kStepReaderOpen{0x5c6, "cannot open the stream"};
// the stream's first tar header
inline constexpr a_step kStepFirstHeader{0x5c8, "cannot read the stream's tar header"};
// decoding the file's data
inline constexpr a_step kStepReadData{0x5dc, "cannot decode the file's data"};
// reading the rest of the stored stream
inline constexpr a_step kStepTail{0x5e3, "cannot read the end of the stream"};
// closing the reader
inline constexpr a_step kStepReaderClose{0x5e6, "cannot finish reading the stream"};
// stored bytes left over
inline constexpr a_step kStepLeftOver{0x5e8, "stream is longer than its data"};
// the stream's MAC differs from its entry's
inline constexpr a_step kStepMacMismatch{0x5e9, "stream does not match its MAC"};
// loading the table of contents
inline constexpr a_step kStepSeekLoadToc{0x607, "cannot load the table of contents"};
// the seek to an entry's stream
inline constexpr a_step kStepSeekData{0x60f, "cannot seek to the stream"};
// Tic::list()
inline constexpr a_step kStepListNames{0x61d, "cannot load the table of contents"};
// Tic::list(out, ...)
inline constexpr a_step kStepListInto{0x631, "cannot load the table of contents"};
// Tic::bytes_required
inline constexpr a_step kStepBytesRequired{0x64e, "cannot load the table of contents"};
// Tic::extract or Tic::compress asked of an object given no engine for it
inline constexpr a_step kStepNoEngine{0x5c0, "no engine for this operation"};

// Opening an archive and its whole-archive check, which no operation of the
// error word reports: the programs explain them.
inline constexpr a_step kStepNotOpen{0x730, "not open"};
inline constexpr a_step kStepComputeMac{0x731, "cannot compute the archive's MAC"};
inline constexpr a_step kStepArchiveMac{0x732, "archive does not match its MAC"};

// Publishes a failure of |step|, with errno as it is now and about nothing
// named: what the archive classes' operations that the error word reports
// store when they fail (errno | code << 8). Returns -1.
inline int publish_step(const a_step& step) {
  failure_of(step, "").publish();
  return -1;
}
