#include <gtest/gtest.h>

#include <cstring>

#include "extension/Rs232.h"
#include "tests/support/Files.h"
#include "upgrade/Flash.h"
#include "upgrade/Identity.h"

TEST(ParseMac, TakesSeventeenCharactersAfterBlanks)
{
    const char *psz = " \t00-1A,2b:3C-4d:5E rest";
    char az[RS232_MAC_BUF] = {};
    EXPECT_EQ(0, parse_mac(&psz, az));
    EXPECT_STREQ("00-1A,2b:3C-4d:5E", az);
    EXPECT_STREQ(" rest", psz);

    // Only the first 17 characters count: the rest stays for the caller.
    psz = "00:11:22:33:44:55:66";
    EXPECT_EQ(0, parse_mac(&psz, az));
    EXPECT_STREQ(":66", psz);

    const char *apszBad[] = {"00:11:22:33:44:5", "00:11:22:33:44:5G", "00;11:22:33:44:55",
                             "0:011:22:33:44:55", "00:11:22:33:44:\x01" "5"};
    for (const char *pszBad : apszBad) {
        const char *p = pszBad;
        char azOut[RS232_MAC_BUF] = {};
        EXPECT_GT(0, parse_mac(&p, azOut)) << pszBad;
        EXPECT_LE(strlen(azOut), 17u);
    }
}

// Stored in lower case with ':' whatever the separators were.
TEST(ParseMac, SetMacStoresCanonicalText)
{
    ASSERT_EQ(0, Flash_Init());
    char az[] = "0A-1B,2C:3D-4E:5F";
    ASSERT_EQ(0, MAIN_RS232_Set_MAC(az));
    EXPECT_STREQ("0a:1b:2c:3d:4e:5f", az);
    EXPECT_EQ("0a:1b:2c:3d:4e:5f\n", File_Read(IDENTITY_MAC_FILE));
    char azBad[] = "0A-1B,2C:3D-4E:5";
    EXPECT_EQ(-1, MAIN_RS232_Set_MAC(azBad));
    EXPECT_EQ("0a:1b:2c:3d:4e:5f\n", File_Read(IDENTITY_MAC_FILE));
}
