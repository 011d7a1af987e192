// Pins the code page, the collation locale and the locale formats for every filter test.
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Collation.h"
#include "rtl/FormatSettings.h"

namespace lanqi {
namespace {

class FilterEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetSystemCodePage(936);
    SetCollationLocale("en_US");
    FormatSettings() = TFormatSettings();
  }
};

const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new FilterEnvironment);  // gtest takes ownership

}  // namespace
}  // namespace lanqi
