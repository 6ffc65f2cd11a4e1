#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "config/Config.h"
#include "core/Debug.h"
#include "core/Main.h"
#include "tests/config/ConfigTest.h"
#include "tests/support/Files.h"

using testing::ContainsRegex;
using testing::HasSubstr;

static const char OTHER_DIR[] = "/tmp/cfgdir";
static const char OTHER_PATH[] = "/tmp/cfgdir/app.ini";

struct ConfigTest : public testing::Test {
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;

    void SetUp() override
    {
        Config_deinit();
        unlink(CONFIG_FILE);
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        snprintf(g_stMainServerAttr.stDevInfo.azMac, sizeof(g_stMainServerAttr.stDevInfo.azMac), TEST_MAC);
        memset(&stAttr, 0xA5, sizeof(stAttr));
        memset(&stEdid, 0xA5, sizeof(stEdid));
    }
    void TearDown() override { Config_deinit(); }
    // Loads a file of the given text, then reads the record from it.
    void LoadText(const std::string &text)
    {
        File_Write(CONFIG_FILE, text);
        ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
        ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    }
    void SetAlias(const char *psz) { snprintf(stAttr.stDevAttr.azAlias, sizeof(stAttr.stDevAttr.azAlias), "%s", psz); }
};

// A new box writes the default file byte for byte: 54 keys, no edidattr;
// the first save appends edidattr with three empty values (57 keys).
TEST_F(ConfigTest, NewFileHoldsTheDefaults)
{
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("]: /etc/app.ini ini not file\n"));
    EXPECT_EQ(g_azDefaultFile, File_Read(CONFIG_FILE));

    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_EQ(0u, stAttr.stSubAttr.u32Audiofreq);
    EXPECT_EQ(0xA5A5A5A5u, stAttr.u32Crc);   // a field without a key is left as it was

    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    EXPECT_EQ(g_azDefaultFile + Header("edidattr") + Entry("rxedid", "") + Entry("user1edid", "") +
                  Entry("user2edid", ""),
              File_Read(CONFIG_FILE));
}

// Missing keys read as their fallbacks; the next save adds them at the end
// of their section, appends missing sections and keeps the comments.
TEST_F(ConfigTest, MissingKeysTakeFallbacks)
{
    LoadText("; kept\n[mainattr]\nwidth = 1280\n");
    EXPECT_EQ(1280u, stAttr.stMainAttr.u32Width);
    EXPECT_EQ(8192u, stAttr.stMainAttr.u32Videobitrate);
    EXPECT_EQ(48000u, stAttr.stSubAttr.u32Audiofreq);
    EXPECT_EQ(128000u, stAttr.stSubAttr.u32Audiobitrate);
    EXPECT_EQ(1u, stAttr.stSubAttr.u32Encres);
    EXPECT_EQ(0, stAttr.stNetAttr.enDHCP);
    EXPECT_STREQ("TX 001", stAttr.stDevAttr.azAlias);
    EXPECT_STREQ("169.254.86.68", stAttr.stNetAttr.azIp);
    EXPECT_STREQ("qarzy", stAttr.stMisc.azWebPsw);
    EXPECT_STREQ("", stEdid.azRxEdid);

    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    std::string file = File_Read(CONFIG_FILE);
    EXPECT_EQ(0u, file.find("; kept\n" + Header("mainattr") + Entry("width", "1280") +
                             Entry("audiobitrate", "128000") + Entry("audiocodec", "0")));
    EXPECT_THAT(file, HasSubstr(Entry("height", "1080") + Entry("ratecontrol", "1") + Header("devattr")));
    EXPECT_THAT(file, HasSubstr(Entry("btnmode", "0") + Header("edidattr")));
}

// -1 takes the fallback, an empty value is 0, base-0 numbers, 32-bit words
// written with "%d" read back unchanged; long texts are cut to their fields.
TEST_F(ConfigTest, ValueForms)
{
    LoadText("[mainattr]\nwidth = -1\nheight =\nfps = 0x10\nencres = 010\nvideobitrate = 3000000000\n"
             "audiofreq = abc\naudiobitrate = 12abc\n[manualattr]\nid = -7\n[devattr]\nalias = " +
             std::string(200, 'a') + "\ndeviceid = " + std::string(40, 'i') + "\n[miscattr]\nwebpsw = " +
             std::string(100, 'p') + "\n[edidattr]\nrxedid = " + std::string(600, 'e') + "\n");
    EXPECT_EQ(1920u, stAttr.stMainAttr.u32Width);
    EXPECT_EQ(0u, stAttr.stMainAttr.u32Height);
    EXPECT_EQ(16u, stAttr.stMainAttr.u32Fps);
    EXPECT_EQ(8u, stAttr.stMainAttr.u32Encres);
    EXPECT_EQ(3000000000u, stAttr.stMainAttr.u32Videobitrate);
    EXPECT_EQ(0u, stAttr.stMainAttr.u32Audiofreq);
    EXPECT_EQ(12u, stAttr.stMainAttr.u32Audiobitrate);
    EXPECT_EQ(-7, stAttr.stManual.s32ID);
    EXPECT_EQ(std::string(127, 'a'), stAttr.stDevAttr.azAlias);
    EXPECT_EQ(std::string(31, 'i'), stAttr.stDevAttr.azDeviceId);
    EXPECT_EQ(std::string(63, 'p'), stAttr.stMisc.azWebPsw);
    EXPECT_EQ(std::string(515, 'e'), stEdid.azRxEdid);

    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    EXPECT_THAT(File_Read(CONFIG_FILE), HasSubstr(Entry("videobitrate", "-1294967296")));
    memset(&stAttr, 0, sizeof(stAttr));
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_EQ(3000000000u, stAttr.stMainAttr.u32Videobitrate);
}

TEST_F(ConfigTest, DefaultIpFromTheMac)
{
    const struct { const char *pszMac, *pszIp; } astCase[] = {
        { "00:11:22:33:44:55", "169.254.86.68" },  { "00:11:22:33:00:ff", "169.254.0.128" },
        { "00:11:22:33:ff:fe", "169.254.255.127" }, { "00:11:22:33:01:ff", "169.254.0.1" },
        { "00:11:22:33:4", "169.254.1.4" },         { "", "169.254.1.0" },
        { "00:11:22:33:Ab:zz", "169.254.1.171" },
    };
    for (const auto &st : astCase) {
        // An exact-size copy, so that reading past the text would be caught.
        size_t sizeLen = strlen(st.pszMac) + 1;
        std::unique_ptr<char[]> mac(new char[sizeLen]);
        memcpy(mac.get(), st.pszMac, sizeLen);
        char azIp[CONFIG_IP_LEN];
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, getDefaultIp(azIp, mac.get()));
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_STREQ(st.pszIp, azIp) << st.pszMac;
        EXPECT_THAT(out, HasSubstr(std::string("]: getDefaultIp: default ip ") + st.pszIp + "\n"));
    }
}

// A value that would break the file or add a key is refused: the save
// fails as a whole and the file keeps its old text. One kind of quote is
// kept; a text field without its NUL is read to its width only.
TEST_F(ConfigTest, SaveRefusesValuesThatBreakTheFile)
{
    LoadText(g_azDefaultFile);
    SetAlias("x\n[netattr]\nip = 1.2.3.4");
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Config_set(&stAttr, &stEdid));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                ContainsRegex("]: set devattr:alias failed\n.*]: config save failed!\n"));
    EXPECT_EQ(g_azDefaultFile, File_Read(CONFIG_FILE));

    SetAlias("the \"big\" screen");
    memset(stAttr.stMisc.azDot1xUser, 'u', sizeof(stAttr.stMisc.azDot1xUser));
    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_STREQ("the \"big\" screen", stAttr.stDevAttr.azAlias);
    EXPECT_EQ(std::string(63, 'u'), stAttr.stMisc.azDot1xUser);
}

TEST_F(ConfigTest, RefusesNullRecordsAndAnUnloadedStore)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_EQ(-1, Config_set(&stAttr, &stEdid));
    EXPECT_EQ(-1, Config_reset(TEST_MAC));
    EXPECT_EQ(-1, MAIN_CONFIG_Recv(&stAttr, &stEdid));
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("]: config not init!\n"));

    LoadText(g_azDefaultFile);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Config_get(nullptr, &stEdid, TEST_MAC));
    EXPECT_EQ(-1, Config_get(&stAttr, nullptr, TEST_MAC));
    EXPECT_EQ(-1, Config_set(&stAttr, nullptr));
    EXPECT_EQ(-1, MAIN_CONFIG_Recv(&stAttr, nullptr));
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("]: param err!\n"));
}

// A file that was readable but cannot be written any more: each save fails
// and says so; a factory reset fails and keeps the loaded settings.
TEST_F(ConfigTest, SaveAndResetFailWhenTheFileCannotBeWritten)
{
    ASSERT_EQ(0, mkdir(OTHER_DIR, 0755));
    ASSERT_EQ(0, Config_init(OTHER_PATH, TEST_MAC));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    ASSERT_EQ(0, unlink(OTHER_PATH));
    ASSERT_EQ(0, rmdir(OTHER_DIR));
    SetAlias("changed");
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, MAIN_CONFIG_Save_all(&stAttr, &stEdid));
    EXPECT_EQ(-1, Config_reset(TEST_MAC));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                ContainsRegex("fopen ini failed!\n.*config save ini failed!\n.*Config_set failed"));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_STREQ("changed", stAttr.stDevAttr.azAlias);
}

// The reset writes the default file and swaps in its dictionary; the
// record in memory is not touched.
TEST_F(ConfigTest, ResetWritesTheDefaultFile)
{
    LoadText("; gone after the reset\n" + std::string(g_azDefaultFile));
    SetAlias("mine");
    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    ASSERT_EQ(0, Config_reset("00:11:22:33:01:ff"));
    EXPECT_STREQ("mine", stAttr.stDevAttr.azAlias);
    std::string expect = g_azDefaultFile;
    expect.replace(expect.find("169.254.86.68  "), 15, "169.254.0.1    ");
    EXPECT_EQ(expect, File_Read(CONFIG_FILE));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_STREQ("KVB 001", stAttr.stDevAttr.azAlias);
}

// An account is added, then updated; full-width fields come back cut to 31.
TEST_F(ConfigTest, WebAccounts)
{
    LoadText(g_azDefaultFile);
    WebAccount_S stAccount = { "admin", "p\"w" };
    WebAccount_S stRead;
    EXPECT_EQ(-1, Config_getWebAuth(&stRead, 3));
    EXPECT_EQ(-1, Config_setWebAuth(nullptr, 3));
    ASSERT_EQ(0, Config_setWebAuth(&stAccount, 3));
    EXPECT_THAT(File_Read(CONFIG_FILE), HasSubstr(Header("user3") + Entry("username", "admin") +
                                                  Pad("passwd", 30) + " = 'p\"w" + Pad("", 12) + "'\n"));
    ASSERT_EQ(0, Config_getWebAuth(&stRead, 3));
    EXPECT_STREQ("p\"w", stRead.azPasswd);

    memset(stAccount.azUsername, 'n', sizeof(stAccount.azUsername));
    ASSERT_EQ(0, Config_setWebAuth(&stAccount, 3));
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    ASSERT_EQ(0, Config_getWebAuth(&stRead, 3));
    EXPECT_EQ(std::string(31, 'n'), stRead.azUsername);

    snprintf(stAccount.azUsername, sizeof(stAccount.azUsername), "a\nb");
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Config_setWebAuth(&stAccount, 3));
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("]: set user3:username failed\n"));
}

// The EDID texts become bytes; reading stops at the first non-hex
// character and at the text's end.
TEST_F(ConfigTest, EdidTextsBecomeBytes)
{
    memset(&stEdid, '7', sizeof(stEdid));   // hex digits behind each text's end
    LoadText(std::string(g_azDefaultFile) + "[edidattr]\nrxedid = 00ff10Ab\nuser1edid =\nuser2edid = 1g2\n");
    memset(g_stMainServerAttr.au8User1Edid, 0x55, MAIN_EDID_LEN);
    memset(g_stMainServerAttr.au8CopyEdid, 0x55, MAIN_EDID_LEN);
    ASSERT_EQ(0, MAIN_CONFIG_Recv(&stAttr, &stEdid));
    const u8 *apu8[] = { g_stMainServerAttr.au8CopyEdid, g_stMainServerAttr.au8User1Edid,
                         g_stMainServerAttr.au8User2Edid };
    const std::string want[] = { std::string("\x00\xff\x10\xab", 4), "", "\x01\x02" };
    for (s32 i = 0; i < 3; i++)
        EXPECT_EQ(want[i] + std::string(MAIN_EDID_LEN - want[i].size(), '\0'),
                  std::string((const char *)apu8[i], MAIN_EDID_LEN)) << i;
}
