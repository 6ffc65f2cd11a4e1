#include <gtest/gtest.h>

#include "core/MacText.h"

// An interface takes only a unicast address other than all zeros; the
// group bit is the lowest bit of the first byte.
TEST(MacTextTest, OnlyUnicastNonZeroAddressesAreTexts)
{
    for (const char *psz : {"02:00:00:00:00:01", "00:11:22:33:44:55", "FE:ff:00:00:00:00",
                            "00:00:00:00:00:01"})
        EXPECT_TRUE(Mac_IsText(psz)) << psz;
    for (const char *psz : {"ff:ff:ff:ff:ff:ff", "01:00:5e:00:00:01", "03:00:00:00:00:01",
                            "0F:11:22:33:44:55", "00:00:00:00:00:00", "02-00-00-00-00-01",
                            "02:00:00:00:00:1", "02:00:00:00:00:011"})
        EXPECT_FALSE(Mac_IsText(psz)) << psz;
    // The form alone does not look at the bytes.
    EXPECT_TRUE(Mac_IsForm("ff-ff-ff-ff-ff-ff", "-"));
}
