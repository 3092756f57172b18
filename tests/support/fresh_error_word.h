// A fixture for tests of the archive module: each starts, and leaves, with
// a clean error word. ERROR is sticky by design (nothing in the program
// resets it, and operations such as Tic::list and extraction fail while it
// is set), so without this a test would see what an earlier one left.
#pragma once

#include <gtest/gtest.h>

#include "platform/error_word.h"

class FreshErrorWord : public testing::Test {
 protected:
  void SetUp() override { ERROR = 0; }
  void TearDown() override { ERROR = 0; }
};
