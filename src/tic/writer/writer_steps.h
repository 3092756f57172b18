// The steps of the archive builder (Tic::compress); their codes are those the
// archive module's error word carries (platform/error_word.h). The builder
// returns its failure; Tic::compress publishes it.
#pragma once

#include "platform/error_word.h"

// creating the archive file
inline constexpr a_step kStepOpenArchive{0x44a, "cannot create the archive"};
// the seek to offset 104
inline constexpr a_step kStepSeekFirstStream{0x44d, "cannot seek past the header"};
// creating a stream writer
inline constexpr a_step kStepWriterNew{0x473, "cannot create a stream writer"};
// its compression filter (bzip2 or zstd)
inline constexpr a_step kStepBzip2Filter{0x474, "cannot set up the compression"};
// its pax format
inline constexpr a_step kStepPaxFormat{0x475, "cannot set up the pax format"};
// its block size
inline constexpr a_step kStepBlockSize{0x477, "cannot set the block size"};
// its last-block size
inline constexpr a_step kStepLastBlockSize{0x479, "cannot set the last block size"};
// opening it
inline constexpr a_step kStepWriterOpen{0x47b, "cannot open the stream writer"};
// the tar entry of a file (lstat)
inline constexpr a_step kStepTarEntry{0x480, "cannot read the file's status"};
// reading a symbolic link
inline constexpr a_step kStepReadLink{0x486, "cannot read the symbolic link"};
// writing the tar header
inline constexpr a_step kStepTarHeader{0x48a, "cannot write the tar header"};
// copying a file's contents
inline constexpr a_step kStepContents{0x491, "cannot copy the file's contents"};
// closing a stream writer
inline constexpr a_step kStepCloseWriter{0x494, "cannot finish the stream"};
// stamp block, tables and header
inline constexpr a_step kStepFinish{0x4ab, "cannot write the tables and the header"};
// opening a file to archive
inline constexpr a_step kStepOpenFile{0x4bb, "cannot open the file"};
// reading it
inline constexpr a_step kStepReadFile{0x4c3, "cannot read the file"};
// handing its data to the compressor
inline constexpr a_step kStepWriteData{0x4c4, "cannot compress the file's data"};
// a scanned file the table of contents does not list: the word all ones
inline constexpr a_step kStepNotInToc{kNotInTocCode, "file not in the table of contents"};
