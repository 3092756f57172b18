// The version an archive is stamped with: the version fields of its header
// and the entries of its version stamp block.
//
// A product name of "nimbrel" or "nimbrel_core" gives 1.0.0 build 4716 and
// is stamped as "nimbrel"; any other gives 17.0.11 build 7254 under its own
// name. Version information given for the build replaces the stamp's
// entries of the same key or is added to them; VERSION_MAJOR,
// VERSION_MINOR, VERSION_PATCH and BUILD_NUMBER also set the header's
// version.
#pragma once

#include <cstddef>
#include <string>

#include "stamp/dbversion_writer.h"
#include "tic/format/header.h"

// What a build is told about its version.
struct a_build_version {
  std::string product = "tarnvale";
  // With a source date epoch the stamp says that time, in UTC; else the
  // time of the build, in local time.
  bool has_source_date_epoch = false;
  long long source_date_epoch = 0;
  a_stamp_entries version_info;
};

// The product name the stamp carries: "nimbrel" for "nimbrel_core".
std::string stamped_product_name(const std::string& product);

// Whether KEY=VALUE can be given as version information: a failure of
// kStepStampEntry about |key| when it is not a stamp entry, or a version key
// whose value is not a plain decimal number that fits the header ("not a
// number from 0 to 255").
Outcome valid_version_info(const std::string& key, const std::string& value);

// The header version and the stamp entries of an archive built now.
void build_version(const a_build_version& settings, TicHeader& header, a_stamp_entries& stamp);

// Composes the stamp block that goes with |header| into |block|: the entries
// of build_version, with the version as |header| has it. False (errno
// EOVERFLOW) when the entries do not fit a block that readers take whole.
bool compose_version_block(const a_build_version& settings, const TicHeader& header,
                           char (&block)[kStampDataSize], size_t* length);
