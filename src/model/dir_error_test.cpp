#include "model/dir_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(DirError, Texts) {
  struct Case {
    int code;
    const char* want;
  };
  const Case cases[] = {
      {1, "Unmatched quote"},
      {2, "Deliminer not found"},
      {8, "Unmatched '<'"},
      {13, "Timeout"},
      {37, "Security Violation (key on connect != expected key)"},
      {56, "Array index out of bounds"},
      {57, "Reserved"},
      {70, "Unable to confirm.  Try again later"},
      {96, "No Login; Logout was called"},
      {119, "Login provider failure (AD cannot be contacted, network failure or other infrastructure problem)"},
      {123, "Cannot read property of undefined or null object"},
      {0, "Unknown"},
      {124, "Unknown"},
      {-5, "Unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(DirError::getErrorDescription(c.code), c.want);
  }
  for (int code = 1; code <= DirError::LAST_CODE; code++) {
    ASSERT_NE(DirError::getErrorDescription(code), nullptr);
    EXPECT_GT(strlen(DirError::getErrorDescription(code)), 0u);
  }
  EXPECT_STREQ(dirErrorLogText(-13), "Timeout");
  EXPECT_STREQ(dirErrorLogText(13), "Timeout");
}

TEST(DirError, Mappings) {
  EXPECT_EQ(DirError::fromPosix(ENOENT), 15);
  EXPECT_EQ(DirError::fromPosix(EACCES), 23);
  EXPECT_EQ(DirError::fromPosix(EDQUOT), 77);
  EXPECT_EQ(DirError::fromPosix(EINPROGRESS), 71);
  EXPECT_EQ(DirError::fromPosix(0), 86);
  EXPECT_EQ(DirError::fromPosix(ETIMEDOUT), 86);
  EXPECT_EQ(DirError::fromCurl(28), 13);
  EXPECT_EQ(DirError::fromCurl(7), 40);
  EXPECT_EQ(DirError::fromCurl(84), 28);
  EXPECT_EQ(DirError::fromCurl(2), 86);
  EXPECT_EQ(DirError::fromCurl(85), 86);
}

}  // namespace
