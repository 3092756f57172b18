// Ownership of the C library's and libarchive's handles.
//
// Every handle that must be released on every path out of a function is held
// as Unique<T, release>: a std::unique_ptr whose deleter calls |release|.
//
//   Unique<FILE, fclose> log(fopen(path, "w"));
//   Unique<struct archive, archive_read_free> reader(archive_read_new());
//
// Descriptors are ints, not pointers, and have their own holder (UniqueFd,
// platform/fd.h) with the same get/release/reset shape.
#pragma once

#include <memory>

template <auto Release>
struct ReleaseWith {
  template <typename T>
  void operator()(T* handle) const {
    Release(handle);
  }
};

template <typename T, auto Release>
using Unique = std::unique_ptr<T, ReleaseWith<Release>>;
