// The version stamp block of a file of the product, found the quick way when
// the file is a TIC archive.
#pragma once

#include "stamp/dbversion.h"

// When |path| is a regular file whose first 104 bytes are a TIC header
// (either byte order) naming a version offset where a stamp block lies, that
// block is read there; otherwise the file is searched from its start as
// __Get_dbversion_info does with links followed. A file that is not a
// regular file (a FIFO, a device) is never read: not found.
an_info_found read_file_stamp(const char* path, dbversion_info* info);
