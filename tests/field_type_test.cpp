#include "dataset/field_type.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace ov {
namespace {

class DateTimeTest : public test::EngineTest {};

TEST_F(DateTimeTest, DaysCountFromTheEndOf1899) {
  TDateTime dt = -1;
  ASSERT_TRUE(TryEncodeDate(1899, 12, 30, dt));
  EXPECT_EQ(dt, 0);
  ASSERT_TRUE(TryEncodeDate(2000, 1, 1, dt));
  EXPECT_EQ(dt, 36526);
  ASSERT_TRUE(TryEncodeDate(1, 1, 1, dt));
  EXPECT_EQ(dt, 1 - kDateDelta);
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, dt));
  int y, m, d;
  DecodeDate(36526.75, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000101);
  DecodeDate(1 - kDateDelta, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 10101);
}

}  // namespace
}  // namespace ov
