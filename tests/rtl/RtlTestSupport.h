// Pins the process-wide FormatSettings to the runtime's defaults for one test and restores it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "rtl/FormatSettings.h"

namespace lanqi {

class PinnedFormatSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = FormatSettings();
    FormatSettings() = TFormatSettings{};
  }
  void TearDown() override { FormatSettings() = saved_; }

 private:
  TFormatSettings saved_;
};

// Runs f and returns the message of the exception of type E it raises ("" and a failure if none).
template <class E, class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "no exception raised";
  return {};
}

}  // namespace lanqi
