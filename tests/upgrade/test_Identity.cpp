#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Main.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "upgrade/Flash.h"
#include "upgrade/Identity.h"
#include "upgrade/Image.h"

// No identity files and an erased identity block at the start of each test.
struct IdentityTest : public testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(0, Flash_Init());
        ASSERT_EQ(0, Flash_Erase(IMAGE_IDENTITY_OFFSET, Flash_EraseSize()));
        mkdir("/customer/info", 0755);
        for (const char *psz : {IDENTITY_MAC_FILE, IDENTITY_SN_FILE, IDENTITY_VERSION_FILE})
            unlink(psz);
    }
    static void WriteBlock(const char *pszMac, const char *pszSn)
    {
        ImageInfo_S stInfo;
        memset(&stInfo, 0, sizeof(stInfo));
        strcpy(stInfo.azMac, pszMac);
        memcpy(stInfo.azSn, pszSn, strnlen(pszSn, sizeof(stInfo.azSn)));
        Image_Seal(&stInfo);
        ASSERT_EQ(0, Flash_Update(IMAGE_IDENTITY_OFFSET, &stInfo, sizeof(stInfo)));
    }
};

// The file first (a usable one); setMac writes both places, keeps the
// block's serial number and refuses what is not a MAC.
TEST_F(IdentityTest, MacFromFileThenFlashAndSetMac)
{
    char az[IDENTITY_MAC_LEN], azSn[IDENTITY_SN_LEN];
    File_Write(IDENTITY_MAC_FILE, "0A:0B:0C:0D:0E:0F\r\n");
    ASSERT_EQ(0, getMac(az));
    EXPECT_STREQ("0a:0b:0c:0d:0e:0f", az);

    WriteBlock("02:00:00:00:00:07", "SN-0042");
    File_Write(IDENTITY_MAC_FILE, "0a:0b:0c:0d:0e:0f; reboot\n");
    ASSERT_EQ(0, getMac(az));
    EXPECT_STREQ("02:00:00:00:00:07", az);

    ASSERT_EQ(0, setMac("02:AA:BB:CC:DD:EE"));
    EXPECT_EQ(-1, setMac("02:aa:bb:cc:dd:e"));
    EXPECT_EQ(-1, setMac("02:aa:bb:cc:dd:ee\n"));
    ASSERT_EQ(0, getSn(azSn));
    EXPECT_STREQ("SN-0042", azSn);
    unlink(IDENTITY_MAC_FILE);
    ASSERT_EQ(0, getMac(az));
    EXPECT_STREQ("02:aa:bb:cc:dd:ee", az);
}

// Nothing stored: a new MAC with the fixed prefix, kept from then on in
// both places.
TEST_F(IdentityTest, MadeUpMacIsStored)
{
    char az[IDENTITY_MAC_LEN], azAgain[IDENTITY_MAC_LEN];
    ASSERT_EQ(0, getMac(az));
    EXPECT_EQ(0, strncmp(IDENTITY_MAC_PREFIX ":", az, 9)) << az;
    EXPECT_EQ(std::string(az) + "\n", File_Read(IDENTITY_MAC_FILE));
    unlink(IDENTITY_MAC_FILE);
    ASSERT_EQ(0, getMac(azAgain));
    EXPECT_STREQ(az, azAgain);
}

// Files first, else the flash; a serial number that fills its field in
// flash has no NUL there. The device record gathers them.
TEST_F(IdentityTest, SerialNumberAndVersion)
{
    char azSn[IDENTITY_SN_LEN], azVersion[IDENTITY_VERSION_LEN];
    EXPECT_EQ(-1, getSn(azSn));
    EXPECT_STREQ("", azSn);
    EXPECT_EQ(-1, getVersion(azVersion));

    WriteBlock("02:00:00:00:00:07", std::string(64, 'S').c_str());
    ASSERT_EQ(0, getSn(azSn));
    EXPECT_EQ(std::string(IDENTITY_SN_LEN - 1, 'S'), azSn);

    File_Write(IDENTITY_SN_FILE, "TX123\n");
    File_Write(IDENTITY_VERSION_FILE, "V2.3.4\n");
    DevInfo_S stInfo;
    memset(&stInfo, 0x7f, sizeof(stInfo));
    ASSERT_EQ(0, MAIN_Device_Info(&stInfo));
    EXPECT_STREQ("02:00:00:00:00:07", stInfo.azMac);
    EXPECT_STREQ("TX123", stInfo.azSerialNum);
    EXPECT_STREQ("V2.3.4", stInfo.azVersion);
}

// A stored text that is not taken is named in the log with why, so that a
// group address is not mistaken for a missing one.
TEST_F(IdentityTest, MadeUpMacLogSaysWhyTheStoredOneWasNotTaken)
{
    struct {
        const char *pszFile, *pszBlock, *pszWhy;
    } const astCases[] = {
        {nullptr, nullptr, "no stored MAC, made "},
        {"01:00:5e:44:12:10\n", nullptr, "stored MAC \"01:00:5e:44:12:10\" is not a unicast address, made "},
        {nullptr, "03:00:00:00:00:01", "stored MAC \"03:00:00:00:00:01\" is not a unicast address, made "},
        {"0a:0b:0c:0d:0e\n", nullptr, "stored MAC \"0a:0b:0c:0d:0e\" is not a usable MAC address, made "},
        {"00:00:00:00:00:00\n", nullptr, "stored MAC \"00:00:00:00:00:00\" is not a usable MAC address, made "},
    };
    for (const auto &c : astCases) {
        SetUp();
        if (c.pszFile != nullptr)
            File_Write(IDENTITY_MAC_FILE, c.pszFile);
        if (c.pszBlock != nullptr)
            WriteBlock(c.pszBlock, "");
        int s32Status = -1;
        std::string strOut = Child_Run([] {
            char az[IDENTITY_MAC_LEN];
            exit(getMac(az) == 0 ? 0 : 1);
        }, &s32Status);
        EXPECT_EQ(0, s32Status);
        EXPECT_NE(std::string::npos, strOut.find(std::string("getMac: ") + c.pszWhy)) << strOut;
    }
}
