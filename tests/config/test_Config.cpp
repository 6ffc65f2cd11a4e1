#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/Main.h"
#include "app/MainConfig.h"
#include "config/Config.h"
#include "config/ConfigOld.h"
#include "core/Debug.h"
#include "tests/config/ConfigTest.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "upgrade/Flash.h"

using testing::ContainsRegex;
using testing::HasSubstr;

static const char OTHER_DIR[] = "/tmp/cfgdir";
static const char OTHER_PATH[] = "/tmp/cfgdir/app.ini";
static const char UNREAD_COPY[] = "/etc/app.ini.unread";

// Writes pszFile until its file system is full.
static void FillDisk(const char *pszFile)
{
    FILE *fp = fopen(pszFile, "wb");
    const std::string block(4096, 'f');
    while (fp != nullptr && fwrite(block.data(), 1, block.size(), fp) == block.size() && fflush(fp) == 0) {
    }
    if (fp != nullptr)
        fclose(fp);   // fails as the disk is full: that is the point
}

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

// Missing keys read as their fallbacks; the next save adds them at the end
// of their section, appends missing sections and keeps the comments.
TEST_F(ConfigTest, MissingKeysTakeFallbacks)
{
    LoadText("; kept\n[mainattr]\nwidth = 1280\n");
    EXPECT_EQ(1280u, stAttr.stMainAttr.u32Width);
    EXPECT_EQ(8192u, stAttr.stMainAttr.u32Videobitrate);
    EXPECT_STREQ("TX 001", stAttr.stDevAttr.azAlias);
    EXPECT_EQ(0xA5A5A5A5u, stAttr.u32Crc);   // a field without a key is left as it was

    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    std::string file = File_Read(CONFIG_FILE);
    EXPECT_EQ(0u, file.find("; kept\n" + Header("mainattr") + Entry("width", "1280") +
                             Entry("audiobitrate", "128000") + Entry("audiocodec", "0")));
    EXPECT_THAT(file, HasSubstr(Entry("height", "1080") + Entry("ratecontrol", "1") + Header("devattr")));
    EXPECT_THAT(file, HasSubstr(Entry("btnmode", "0") + Header("edidattr") + Entry("rxedid", "") +
                                Entry("user1edid", "") + Entry("user2edid", "")));
}

// -1 takes the fallback, 32-bit words written with "%d" read back
// unchanged; long texts are cut to their fields.
TEST_F(ConfigTest, ValueForms)
{
    LoadText("[mainattr]\nwidth = -1\nvideobitrate = 3000000000\n[manualattr]\nid = -7\n[devattr]\nalias = " +
             std::string(200, 'a') + "\ndeviceid = " + std::string(40, 'i') + "\n[miscattr]\nwebpsw = " +
             std::string(100, 'p') + "\n[edidattr]\nrxedid = " + std::string(600, 'e') + "\n");
    EXPECT_EQ(1920u, stAttr.stMainAttr.u32Width);
    EXPECT_EQ(3000000000u, stAttr.stMainAttr.u32Videobitrate);
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

// A value that would break the file or add a key is refused and keeps its
// stored text; the save reports the failure but still writes the other
// changes. One kind of quote is kept; a text field without its NUL is read
// to its width only.
TEST_F(ConfigTest, SaveRefusesValuesThatBreakTheFile)
{
    LoadText(DefaultFile());
    const std::string strAlias = stAttr.stDevAttr.azAlias;
    SetAlias("x\n[netattr]\nip = 1.2.3.4");
    stAttr.stMainAttr.u32Width = 1280;
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Config_set(&stAttr, &stEdid));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                ContainsRegex("]: set devattr:alias failed\n.*]: config save failed!\n"));
    EXPECT_EQ(std::string::npos, File_Read(CONFIG_FILE).find("1.2.3.4"));
    LoadText(File_Read(CONFIG_FILE));
    EXPECT_EQ(strAlias, stAttr.stDevAttr.azAlias);
    EXPECT_EQ(1280u, stAttr.stMainAttr.u32Width);

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

    LoadText(DefaultFile());
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
                ContainsRegex("]: /tmp/cfgdir/app.ini not written: create /tmp/cfgdir/app.ini.tmp: No such file or "
                              "directory\n.*Config_set failed.*\n.*]: Config_reset: /tmp/cfgdir/app.ini not "
                              "written: create /tmp/cfgdir/app.ini.tmp: No such file or directory; the settings "
                              "stay as they were\n"));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_STREQ("changed", stAttr.stDevAttr.azAlias);
}

// An empty file, or one of nothing but junk, holds no settings: the
// fallback values apply and the log says so. A file that is not read and
// whose defaults cannot be saved stays where it was, and the log says why.
TEST_F(ConfigTest, EmptyOrUnreadableFileIsLogged)
{
    for (const std::string &text : { std::string(), std::string("\x01\x02=\x03\n[\x04]\n") }) {
        testing::internal::CaptureStdout();
        LoadText(text);
        EXPECT_THAT(testing::internal::GetCapturedStdout(),
                    HasSubstr("]: /etc/app.ini holds no settings: the fallback values apply\n"));
        EXPECT_STREQ("TX 001", stAttr.stDevAttr.azAlias);
        EXPECT_EQ(text, File_Read(CONFIG_FILE));
    }
    testing::internal::CaptureStdout();
    LoadText(DefaultFile());
    EXPECT_THAT(testing::internal::GetCapturedStdout(), Not(HasSubstr("holds no settings")));

    // The defaults cannot be written (no space left): the start runs on them
    // from memory, and the file is put back.
    ASSERT_EQ(0, mkdir(OTHER_DIR, 0755));
    ASSERT_EQ(0, mount("tmpfs", OTHER_DIR, "tmpfs", 0, "size=4k")) << strerror(errno);
    ASSERT_EQ(0, mkfifo(OTHER_PATH, 0644));
    FillDisk("/tmp/cfgdir/filler");
    testing::internal::CaptureStdout();
    const std::vector<s32> got = { Config_init(OTHER_PATH, TEST_MAC), Config_IsInMemory() };
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                ContainsRegex("]: Config_save: /tmp/cfgdir/app.ini not written: write /tmp/cfgdir/app.ini.tmp: No "
                              "space left on device\n.*]: Config_SaveDefaults: the default settings run from "
                              "memory\n"));
    EXPECT_EQ((std::vector<s32>{ 0, 1 }), got);
    struct stat st;
    ASSERT_EQ(0, lstat(OTHER_PATH, &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));   // put back
    EXPECT_NE(0, access("/tmp/cfgdir/app.ini.unread", F_OK));
    umount2(OTHER_DIR, MNT_DETACH);
    rmdir(OTHER_DIR);
}

// Nothing at the save's temporary path stops a save, a start or a factory
// reset, nor is written through: what is not a regular file is removed, a
// directory with files stays and the save takes a name of its own. The
// save's text is past a pipe's buffer, so a FIFO opened would block it.
TEST_F(ConfigTest, NothingAtTheTempPathStopsASave)
{
    static const char s_azTmp[] = CONFIG_FILE ".tmp";
    const struct { const char *pszWhat; std::function<s32()> make; const char *pszLog; } cases[] = {
        { "directory", [] { return mkdir(s_azTmp, 0755); }, "was in the way, not a regular file: removed" },
        { "directory with a file", [] { return mkdir(s_azTmp, 0755) | mkdir("/etc/app.ini.tmp/x", 0755); },
          "is in the way and stays (Directory not empty)" },
        { "FIFO", [] { return mkfifo(s_azTmp, 0644); }, "was in the way, not a regular file: removed" },
        { "link", [] { return symlink("/tmp/victim", s_azTmp); }, "was in the way, not a regular file: removed" },
        { "leftover", [] { File_Write(s_azTmp, "half"); return 0; }, nullptr },
    };
    std::string notes;   // past a pipe's buffer
    for (s32 i = 0; i < 2000; i++)
        notes += "; note " + std::to_string(i) + ": " + std::string(40, 'n') + "\n";
    for (const auto &c : cases) {
        File_Write("/tmp/victim", "victim");
        std::string out = Child_Run([&] {
            alarm(20);   // a blocked save ends the child
            auto step = [&](const char *pszStep, const std::function<s32()> &act, const std::string &want) {
                s32 s32Make = c.make();
                s32 s32Ret = act();
                printf("%s: make=%d ret=%d file=%d\n", pszStep, s32Make, s32Ret,
                       File_Read(CONFIG_FILE).compare(0, want.size(), want) == 0);
                printf("clean=%d\n", system("rm -rf /etc/app.ini.tmp"));   // the next step makes its own
            };
            ConfigAttr_S stAttr;
            ConfigEdidText_S stEdid;
            step("start", [] { return Config_init(CONFIG_FILE, TEST_MAC) | Config_IsInMemory(); }, DefaultFile());
            File_Write(CONFIG_FILE, DefaultFile() + notes);
            step("save", [&] {
                return Config_init(CONFIG_FILE, TEST_MAC) | Config_get(&stAttr, &stEdid, TEST_MAC) |
                       Config_set(&stAttr, &stEdid);
            }, DefaultFile() + notes);
            step("reset", [] { return Config_reset(TEST_MAC); }, DefaultFile());
        });
        (void)unlink(CONFIG_FILE);
        for (const char *pszStep : { "start", "save", "reset" })
            EXPECT_THAT(out, HasSubstr(std::string(pszStep) + ": make=0 ret=0 file=1\n")) << c.pszWhat << "\n" << out;
        if (c.pszLog != nullptr) {
            EXPECT_THAT(out, HasSubstr("/etc/app.ini.tmp " + std::string(c.pszLog))) << c.pszWhat;
        }
        EXPECT_EQ("victim", File_Read("/tmp/victim")) << c.pszWhat;
        EXPECT_THAT(out, Not(HasSubstr("clean=1")));
    }
}

// A link at the path is followed: its target gets the save, its temporary
// file beside it, and the link stays.
TEST_F(ConfigTest, SaveWritesTheTargetOfALinkAtThePath)
{
    ASSERT_EQ(0, mkdir("/etc/real", 0755));
    const struct { const char *pszLink, *pszTarget; } cases[] = {
        { "real/app.ini", "/etc/real/app.ini" },
        { "/etc/real/app.ini", "/etc/real/app.ini" },
        { "real/next", "/etc/real/app.ini" },   // a link to a link
    };
    ASSERT_EQ(0, symlink("app.ini", "/etc/real/next"));
    for (const auto &c : cases) {
        File_Write("/etc/real/app.ini", DefaultFile());
        ASSERT_EQ(0, symlink(c.pszLink, CONFIG_FILE));
        LoadText(File_Read(CONFIG_FILE));
        SetAlias(c.pszLink);
        EXPECT_EQ(0, Config_set(&stAttr, &stEdid));
        char az[64] = "";
        EXPECT_LT(0, readlink(CONFIG_FILE, az, sizeof(az) - 1)) << c.pszLink;
        EXPECT_STREQ(c.pszLink, az);
        EXPECT_THAT(File_Read(c.pszTarget), HasSubstr(Entry("alias", c.pszLink)));
        ASSERT_EQ(0, unlink(CONFIG_FILE));
    }
    EXPECT_EQ(0, system("rm -r /etc/real"));
}

// A file that exists and is not read is kept beside, as it is and unread,
// before the defaults take its place; the log says why and where. One copy
// is kept: each one replaces the one before.
TEST_F(ConfigTest, UnreadFileIsKeptBeside)
{
    const std::string mine = "[devattr]\nalias = mine\n[mainattr]\nfps = 30\n" + std::string(INI_FILE_MAX, '\n');
    const struct { std::function<s32()> make; std::string why; mode_t type; std::string kept; } cases[] = {
        { [&] { File_Write(CONFIG_FILE, mine); return 0; },
          "longer than " + std::to_string(INI_FILE_MAX) + " bytes", S_IFREG, mine },
        { [] { return mkfifo(CONFIG_FILE, 0644); }, "not a regular file", S_IFIFO, "" },
        { [] { return symlink("/dev/zero", CONFIG_FILE); }, "not a regular file", S_IFLNK, "/dev/zero" },
        { [] { return symlink("/none", CONFIG_FILE); }, "No such file or directory", S_IFLNK, "/none" },
    };
    for (const auto &c : cases) {
        (void)unlink(CONFIG_FILE);   // the defaults of the case before, if any
        ASSERT_EQ(0, c.make()) << c.why;
        testing::internal::CaptureStdout();
        ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC)) << c.why;
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_THAT(out, HasSubstr("]: /etc/app.ini not read (" + c.why +
                                   "): kept as /etc/app.ini.unread, the default settings replace it\n"));
        EXPECT_THAT(out, Not(HasSubstr("ini not file")));
        struct stat st;
        ASSERT_EQ(0, lstat(UNREAD_COPY, &st)) << c.why;
        EXPECT_EQ(c.type, st.st_mode & S_IFMT) << c.why;
        char az[64] = "";
        (void)readlink(UNREAD_COPY, az, sizeof(az) - 1);   // no link (the FIFO): stays empty, nothing is opened
        EXPECT_EQ(c.kept, S_ISREG(st.st_mode) ? File_Read(UNREAD_COPY) : std::string(az)) << c.why;
        EXPECT_EQ(DefaultFile(), File_Read(CONFIG_FILE));
    }
    unlink(UNREAD_COPY);
}

// A file not read that cannot be kept (a directory where its copy goes)
// stays as it is: the defaults run from memory, saves and the reset write
// nothing and say so.
TEST_F(ConfigTest, WhatCannotBeKeptStaysAndTheDefaultsRunFromMemory)
{
    const std::string mine = "[devattr]\nalias = mine\n" + std::string(INI_FILE_MAX, '\n');
    File_Write(CONFIG_FILE, mine);
    ASSERT_EQ(0, mkdir(UNREAD_COPY, 0755));
    testing::internal::CaptureStdout();
    const std::vector<s32> got = { Config_init(CONFIG_FILE, TEST_MAC), Config_get(&stAttr, &stEdid, TEST_MAC),
                                   Config_set(&stAttr, &stEdid), Config_reset(TEST_MAC) };
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                ContainsRegex("]: /etc/app.ini not read \\(longer than 262144 bytes\\) and not kept as "
                              "/etc/app.ini.unread: Is a directory; the default settings run from memory\n.*"
                              "]: /etc/app.ini not written: the settings run from memory\n"));
    EXPECT_EQ((std::vector<s32>{ 0, 0, -1, -1 }), got);
    EXPECT_EQ(0, memcmp("KVB 001", stAttr.stDevAttr.azAlias, 8));
    EXPECT_EQ(0, rmdir(UNREAD_COPY));   // still a directory
    EXPECT_TRUE(File_Read(CONFIG_FILE) == mine);
}

// Notes (comments, keys of no setting) that no longer fit beside the
// settings under the loader's bound: the copy beside gets the whole text
// (the newest), the file the settings alone. Where the copy cannot be
// written, the settings still are, and the whole text goes under another
// name; once the whole text fits again, the copy is removed.
TEST_F(ConfigTest, NotesThatDoNotFitAreKeptBeside)
{
    std::string mine = "[devattr]\nalias = lobby\n[mainattr]\nfps = 30\n[custom]\nwho = me\n";
    while (mine.size() < INI_FILE_MAX - 64)
        mine += "; note " + std::to_string(mine.size()) + "\n";
    mine += std::string(INI_FILE_MAX - mine.size() - 1, ';') + "\n";
    LoadText(mine);
    ASSERT_EQ(0, mkdir(CONFIG_FILE CONFIG_NOTES_SUFFIX, 0755));
    SetAlias("lobby, south wing");
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, Config_set(&stAttr, &stEdid));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                ContainsRegex("]: Config_KeepWhole: /etc/app.ini.notes not written: rename onto /etc/app.ini.notes: "
                              "Is a directory\n.*: it holds the settings alone, /etc/app.ini.whole the whole text\n"));
    for (const char *pszFile : { CONFIG_FILE, CONFIG_FILE CONFIG_WHOLE_SUFFIX })
        EXPECT_NE(std::string::npos, File_Read(pszFile).find(Entry("alias", "lobby, south wing"))) << pszFile;
    EXPECT_NE(std::string::npos, File_Read(CONFIG_FILE CONFIG_WHOLE_SUFFIX).find("; note 62\n"));
    ASSERT_EQ(0, rmdir(CONFIG_FILE CONFIG_NOTES_SUFFIX));
    testing::internal::CaptureStdout();
    for (const char *psz : { "lobby screen", "lobby screen, north wing" }) {
        SetAlias(psz);
        EXPECT_EQ(0, Config_set(&stAttr, &stEdid));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("]: /etc/app.ini: the notes do not fit beside the settings in 262144 bytes: it holds "
                               "the settings alone, /etc/app.ini.notes the whole text\n"));
    EXPECT_THAT(out, HasSubstr("]: /etc/app.ini.whole removed: older than /etc/app.ini.notes\n"));
    std::string notes = File_Read(CONFIG_FILE CONFIG_NOTES_SUFFIX), file = File_Read(CONFIG_FILE);
    for (const std::string &part : { Entry("alias", "lobby screen, north wing"), Entry("who", "me") + "; note 62\n",
                                     mine.substr(mine.size() - 100) })
        EXPECT_NE(std::string::npos, notes.find(part)) << part;
    EXPECT_EQ(std::string::npos, file.find("; note")) << file.size();
    EXPECT_EQ(std::string::npos, file.find("who")) << file.size();
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_EQ("lobby screen, north wing 30", std::string(stAttr.stDevAttr.azAlias) + " " +
                                                 std::to_string(stAttr.stMainAttr.u32Fps));
    LoadText(DefaultFile());
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, Config_set(&stAttr, &stEdid));
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                HasSubstr("]: /etc/app.ini.notes removed: the whole text fits in /etc/app.ini again\n"));
    EXPECT_NE(0, access(CONFIG_FILE CONFIG_NOTES_SUFFIX, F_OK));
}

// The reset writes the default file and swaps in its dictionary; the
// record in memory is not touched.
TEST_F(ConfigTest, ResetWritesTheDefaultFile)
{
    LoadText("; gone after the reset\n" + DefaultFile());
    SetAlias("mine");
    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    ASSERT_EQ(0, Config_reset("00:11:22:33:01:ff"));
    EXPECT_STREQ("mine", stAttr.stDevAttr.azAlias);
    std::string expect = DefaultFile();
    expect.replace(expect.find("169.254.86.68  "), 15, "169.254.0.1    ");
    EXPECT_EQ(expect, File_Read(CONFIG_FILE));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    EXPECT_STREQ("KVB 001", stAttr.stDevAttr.azAlias);
}

// An account is added, then updated; full-width fields come back cut to 31.
TEST_F(ConfigTest, WebAccounts)
{
    LoadText(DefaultFile());
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
    EXPECT_EQ(-1, Config_setWebAuth(&stAccount, 4));   // a new account is refused whole
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("]: set user3:username failed\n"));
    EXPECT_THAT(out, HasSubstr("]: add user4:username failed\n"));
    EXPECT_EQ(-1, Config_getWebAuth(&stRead, 4));
    ASSERT_EQ(0, Config_setWebAuth(&stRead, 3));         // the next save
    EXPECT_THAT(File_Read(CONFIG_FILE), Not(HasSubstr("user4")));
}

// An account whose section, or one of whose keys, is in the file already
// replaces what was there; nothing else is lost.
TEST_F(ConfigTest, WebAccountOverAnExistingSection)
{
    const WebAccount_S stAccount = { "bob", "new" };
    // What the section held, and a key of it that stays.
    const struct { const char *pszHad, *pszKept; } cases[] = {
        { "", "" },
        { "username = alice\n", "" },
        { "passwd = old\nnote = kept\n", "note" },
    };
    for (const auto &c : cases) {
        LoadText(DefaultFile() + "[user1]\n" + c.pszHad);
        ASSERT_EQ(0, Config_setWebAuth(&stAccount, 1)) << c.pszHad;
        ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
        WebAccount_S stRead;
        ASSERT_EQ(0, Config_getWebAuth(&stRead, 1)) << c.pszHad;
        EXPECT_STREQ("bob", stRead.azUsername);
        EXPECT_STREQ("new", stRead.azPasswd);
        const std::string file = File_Read(CONFIG_FILE);
        EXPECT_EQ(0u, file.find(DefaultFile())) << file;
        EXPECT_THAT(file, Not(HasSubstr("alice")));
        if (c.pszKept[0] != '\0') {
            EXPECT_THAT(file, HasSubstr(Entry(c.pszKept, "kept")));
        }
    }
}

// The EDID texts become bytes; reading stops at the first non-hex
// character and at the text's end.
TEST_F(ConfigTest, EdidTextsBecomeBytes)
{
    memset(&stEdid, '7', sizeof(stEdid));   // hex digits behind each text's end
    LoadText(DefaultFile() + "[edidattr]\nrxedid = 00ff10Ab\nuser1edid =\nuser2edid = 1g2\n");
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

// The store's life in a process: each scenario below runs in a child of its
// own, as the save timer and the loaded file live once per process.

static const char FLASH_IMAGE[] = "/board/flash.img";

static double Now(void)
{
    struct timespec st;
    clock_gettime(CLOCK_MONOTONIC, &st);
    return (double)st.tv_sec + (double)st.tv_nsec / 1e9;
}

// A watch on the files of a directory that are written or moved in; -1
// when it cannot be made.
static s32 WatchDir(const char *pszDir)
{
    s32 s32Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s32Fd >= 0 && inotify_add_watch(s32Fd, pszDir, IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        close(s32Fd);
        return -1;
    }
    return s32Fd;
}

// Seconds after t0 at which the watch saw the file written or moved in,
// until tEnd or the u32Max-th time.
static std::vector<double> WatchFile(s32 s32Fd, const char *pszName, double t0, double tEnd, u32 u32Max)
{
    std::vector<double> times;
    if (s32Fd < 0) {
        times.assign(100, -1.0);   // shows as a failure in every caller
        return times;
    }
    for (double t = Now(); t < tEnd && times.size() < u32Max; t = Now()) {
        struct pollfd stPoll = { s32Fd, POLLIN, 0 };
        if (poll(&stPoll, 1, (int)((tEnd - t) * 1000) + 1) <= 0)
            continue;
        alignas(struct inotify_event) char az[4096];
        ssize_t n = read(s32Fd, az, sizeof(az));
        for (ssize_t i = 0; i < n;) {
            const struct inotify_event *pst = (const struct inotify_event *)(az + i);
            if (pst->len > 0 && strcmp(pst->name, pszName) == 0)
                times.push_back(Now() - t0);
            i += (ssize_t)(sizeof(*pst) + pst->len);
        }
    }
    return times;
}

// Seconds after t0 at which "/etc/app.ini" was replaced or rewritten, seen
// until tEnd; the watch starts at the call.
static std::vector<double> WatchSaves(double t0, double tEnd)
{
    s32 s32Fd = WatchDir("/etc");
    std::vector<double> times = WatchFile(s32Fd, "app.ini", t0, tEnd, 1000);
    if (s32Fd >= 0)
        close(s32Fd);
    return times;
}

// A block as older firmware left it: settings, web account, EDIDs, and a
// check word over the record image.
static ConfigOldBlock_S OldBlock(const char *pszAlias)
{
    ConfigOldBlock_S stBlock;
    ConfigEdidText_S stEdid;
    memset(&stBlock, 0, sizeof(stBlock));
    Config_default(&stBlock.stAttr, &stEdid, TEST_MAC);
    snprintf(stBlock.stAttr.stDevAttr.azAlias, sizeof(stBlock.stAttr.stDevAttr.azAlias), "%s", pszAlias);
    stBlock.stAttr.stNetAttr.u32HttpPort = 8080;
    stBlock.stAttr.stManual.s32ID = 42;
    snprintf(stBlock.stAttr.stMisc.azWebUser, sizeof(stBlock.stAttr.stMisc.azWebUser), "image user");
    snprintf(stBlock.azWebUser, sizeof(stBlock.azWebUser), "olduser");
    memset(stBlock.azWebPsw, 'p', sizeof(stBlock.azWebPsw));
    for (u32 i = 0; i < MAIN_EDID_LEN; i++) {
        stBlock.au8CopyEdid[i] = (u8)i;
        stBlock.au8User1Edid[i] = (u8)(255 - i);
    }
    stBlock.stAttr.u32Crc = getCrc32(0xFFFFFFFF, &stBlock.stAttr, CONFIG_OLD_CRC_LEN);
    return stBlock;
}

static std::string Bytes(const ConfigOldBlock_S &stBlock)
{
    return std::string((const char *)&stBlock, sizeof(stBlock));
}

// An erased 32 MiB flash image with the block at the old-parameter offset.
static void WriteFlash(const std::string &block)
{
    std::string image(32 << 20, '\xff');
    image.replace(CONFIG_OLD_OFFSET, block.size(), block);
    File_Write(FLASH_IMAGE, image);
}

static std::string ReadBlock(void)
{
    return File_Read(FLASH_IMAGE).substr(CONFIG_OLD_OFFSET, CONFIG_OLD_LEN);
}

// A start-up: load, read the record, and report what the record holds.
static void StartUp(void)
{
    s32 s32Init = MAIN_CONFIG_Init();
    s32 s32Recv = MAIN_CONFIG_Recv(&g_stConfigAttr, &g_stConfigAttrNew);
    printf("init=%d recv=%d alias=%s port=%u\n", s32Init, s32Recv, g_stConfigAttr.stDevAttr.azAlias,
           g_stConfigAttr.stNetAttr.u32HttpPort);
}

struct MainConfigTest : public testing::Test {
    void SetUp() override
    {
        unlink(CONFIG_FILE);
        unlink(CONFIG_FILE ".tmp");
        WriteFlash(std::string(CONFIG_OLD_LEN, '\xff'));
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        snprintf(g_stMainServerAttr.stDevInfo.azMac, sizeof(g_stMainServerAttr.stDevInfo.azMac), TEST_MAC);
    }
};

// No file, and a block that cannot be taken over (erased, a check word that
// does not match): the defaults are written, in memory as in the file, and
// the block stays as it was. A block with a text the file cannot hold gives
// its other settings; the block stays, so the failure can be looked into.
TEST_F(MainConfigTest, BlocksThatCannotBeTakenOverWhole)
{
    ConfigOldBlock_S stCorrupt = OldBlock("old alias"), stUnstorable = OldBlock("two\nlines");
    stCorrupt.stAttr.stDevAttr.azAlias[0] ^= 1;
    const struct { std::string block; const char *pszLog; u32 u32Port; } astCase[] = {
        { std::string(CONFIG_OLD_LEN, '\xff'),
          "/etc/app.ini ini not file\n.*MAIN_CONFIG_Init: no app.ini, try to find old params\n"
          ".*Config_get_old failed with 0xffffffff!\n"
          ".*first start: no usable settings of an older firmware, /etc/app.ini holds the defaults\n", 80 },
        { Bytes(stCorrupt), "Config_get_old failed with 0xffffffff!\n", 80 },
        { Bytes(stUnstorable), "set devattr:alias failed\n.*Config_set failed with 0xffffffff!\n", 8080 },
    };
    for (const auto &st : astCase) {
        unlink(CONFIG_FILE);
        WriteFlash(st.block);
        std::string out = Child_Run(StartUp);
        EXPECT_THAT(out, ContainsRegex(st.pszLog));
        EXPECT_THAT(out, HasSubstr("init=0 recv=0 alias=KVB 001 port=" + std::to_string(st.u32Port) + "\n"));
        if (st.u32Port == 80) {
            EXPECT_EQ(DefaultFile(), File_Read(CONFIG_FILE));
        }
        EXPECT_EQ(st.block, ReadBlock());
    }
}

// Ten changes within a second: one write, 2 s after the last change.
TEST_F(MainConfigTest, BurstOfChangesGivesOneWrite)
{
    File_Write(CONFIG_FILE, DefaultFile());
    std::string out = Child_Run([] {
        StartUp();
        double tLast = 0;
        for (s32 i = 0; i < 10; i++) {
            snprintf(g_stConfigAttr.stDevAttr.azAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "change %d", i);
            tLast = Now();   // before the timer is armed, however late this thread runs
            if (MAIN_CONFIG_Update() != 0)
                printf("update failed\n");
            if (i < 9)
                usleep(100000);
        }
        // The window leaves a loaded machine seconds to write; one save in it.
        std::vector<double> saves = WatchSaves(tLast, tLast + 6);
        printf("saves=%zu first=%.3f\n", saves.size(), saves.empty() ? -1.0 : saves[0]);
    });
    u32 u32Saves = 0;
    double dFirst = 0;
    const char *psz = strstr(out.c_str(), "saves=");
    ASSERT_NE(nullptr, psz) << out;
    ASSERT_EQ(2, sscanf(psz, "saves=%u first=%lf", &u32Saves, &dFirst));
    EXPECT_EQ(1u, u32Saves);
    EXPECT_GE(dFirst, 1.95);
    EXPECT_THAT(out, testing::Not(HasSubstr("update failed")));
    EXPECT_THAT(File_Read(CONFIG_FILE), HasSubstr(Entry("alias", "change 9")));
}

TEST_F(MainConfigTest, UpdateWithoutTimerFails)
{
    File_Write(CONFIG_FILE, DefaultFile());
    std::string out = Child_Run([] {
        printf("before=%d ", MAIN_CONFIG_Update());
        printf("deinit=%d ", MAIN_CONFIG_deInit());
        StartUp();
        printf("deinit=%d ", MAIN_CONFIG_deInit());
        printf("after=%d\n", MAIN_CONFIG_Update());
    });
    EXPECT_THAT(out, ContainsRegex("MAIN_CONFIG_Update: no save timer\nbefore=-1 .*timer_delete failed!\n"
                                   "deinit=-1 .*deinit=0 .*MAIN_CONFIG_Update: no save timer\nafter=-1\n"));
}

// The program's stop, and a flush before a reboot, write a change the
// timer had still to write, at once; the timer then writes nothing more.
TEST_F(MainConfigTest, StopAndFlushWriteAPendingChange)
{
    for (s32 (*pfnFlush)(void) : { MAIN_CONFIG_deInit, MAIN_CONFIG_Flush }) {
        File_Write(CONFIG_FILE, DefaultFile());
        std::string out = Child_Run([pfnFlush] {
            StartUp();
            snprintf(g_stConfigAttr.stDevAttr.azAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "last words");
            printf("update=%d ", MAIN_CONFIG_Update());
            printf("flush=%d ", pfnFlush());
            printf("file=%d ", File_Read(CONFIG_FILE).find(Entry("alias", "last words")) != std::string::npos);
            printf("saves=%zu\n", WatchSaves(Now(), Now() + 2.5).size());
        });
        EXPECT_THAT(out, HasSubstr("update=0 flush=0 file=1 saves=0\n"));
    }
}

// A save that comes due while a factory reset runs waits for the store's
// lock, then sees the block and writes nothing; later changes write nothing
// either.
TEST_F(MainConfigTest, FactoryResetBlocksSaves)
{
    File_Write(CONFIG_FILE, DefaultFile() + "; gone after the reset\n");
    std::string out = Child_Run([] {
        StartUp();
        char *pszAlias = g_stConfigAttr.stDevAttr.azAlias;
        snprintf(pszAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "before reset");
        (void)MAIN_CONFIG_Update();
        {
            std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
            usleep(2500000);   // the save comes due meanwhile
            bConfigSaveBlock = 1;
            printf("reset=%d\n", MAIN_CONFIG_Reset());
        }
        snprintf(pszAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "after reset");
        (void)MAIN_CONFIG_Update();
        printf("flush=%d\n", MAIN_CONFIG_Flush());
        printf("saves=%zu\n", WatchSaves(Now(), Now() + 3.0).size());
    });
    EXPECT_THAT(out, HasSubstr("reset=0\nflush=0\nsaves=0\n"));
    EXPECT_EQ(DefaultFile(), File_Read(CONFIG_FILE));
}

// A first start whose defaults cannot be written (a read-only /etc) runs
// on them from memory and says so; the store tries no save again, and its
// failures are logged at most once a second.
TEST_F(MainConfigTest, StoreFromMemoryIsNotRetried)
{
    std::string out = Child_Run([] {
        if (unshare(CLONE_NEWNS) < 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) < 0 ||
            mount("tmpfs", "/etc", "tmpfs", MS_RDONLY, nullptr) < 0) {
            printf("no read-only /etc: %s\n", strerror(errno));
            return;
        }
        StartUp();
        for (s32 i = 0; i < 3; i++) {
            (void)MAIN_CONFIG_Update();
            printf("flush=%d\n", MAIN_CONFIG_Flush());
        }
    });
    EXPECT_THAT(out, HasSubstr("]: first start: no usable settings of an older firmware, the defaults run from "
                               "memory\n"));
    EXPECT_THAT(out, HasSubstr("init=0 recv=0 alias=KVB 001 port=80\n"));
    EXPECT_THAT(out, HasSubstr("flush=0\nflush=0\nflush=0\n"));
    EXPECT_THAT(out, Not(HasSubstr("next try")));
    size_t sizeFailed = 0;
    for (size_t at = 0; (at = out.find("Config_set failed", at)) != std::string::npos; at++)
        sizeFailed++;
    EXPECT_EQ(1u, sizeFailed) << out;
}

// Once a reboot is asked for, a change is written at once; saves held while
// the flash is rewritten write nothing, not even a flush, until released:
// then the timer writes what waits.
TEST_F(MainConfigTest, ChangesDuringARebootAreSavedAtOnceOrHeld)
{
    File_Write(CONFIG_FILE, DefaultFile());
    std::string out = Child_Run([] {
        StartUp();
        auto change = [](const char *pszAlias) {
            snprintf(g_stConfigAttr.stDevAttr.azAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "%s", pszAlias);
            printf("update=%d ", MAIN_CONFIG_Update());
            printf("%s=%d\n", pszAlias, File_Read(CONFIG_FILE).find(Entry("alias", pszAlias)) != std::string::npos);
        };
        printf("reboot=%d\n", MAIN_CONFIG_BeforeReboot());
        change("after reboot");
        MAIN_CONFIG_Hold(true);
        change("while held");
        printf("flush=%d held=%d\n", MAIN_CONFIG_Flush(),
               File_Read(CONFIG_FILE).find(Entry("alias", "while held")) != std::string::npos);
        double t0 = Now();
        MAIN_CONFIG_Hold(false);
        printf("released=%zu\n", WatchSaves(t0, t0 + 6).size());
        change("no reboot");
    });
    EXPECT_THAT(out, HasSubstr("reboot=0\nupdate=0 after reboot=1\nupdate=0 while held=0\nflush=0 held=0\n"
                               "released=1\nupdate=0 no reboot=0\n"));
    EXPECT_THAT(File_Read(CONFIG_FILE), HasSubstr(Entry("alias", "while held")));
}

// The first start after older firmware takes its settings over, web account
// and EDIDs included, then clears the block's record image.
TEST_F(MainConfigTest, MigratesTheOldBlockOnce)
{
    ConfigOldBlock_S stBlock = OldBlock("old alias");
    WriteFlash(Bytes(stBlock));
    std::string out = Child_Run([] {
        StartUp();
        const MainServerAttr_S &st = g_stMainServerAttr;
        printf("copy=%u,%u user1=%u\n", st.au8CopyEdid[1], st.au8CopyEdid[255], st.au8User1Edid[0]);
    });
    EXPECT_THAT(out, HasSubstr("init=0 recv=0 alias=old alias port=8080\ncopy=1,255 user1=255\n"));
    EXPECT_THAT(out, testing::Not(HasSubstr("failed")));
    std::string file = File_Read(CONFIG_FILE);
    for (const std::string &line :
         { Entry("alias", "old alias"), Entry("httpport", "8080"), Entry("id", "42"), Entry("webuser", "olduser"),
           Entry("webpsw", std::string(63, 'p')), Entry("rxedid", File_Hex(stBlock.au8CopyEdid, MAIN_EDID_LEN)),
           Entry("user1edid", File_Hex(stBlock.au8User1Edid, MAIN_EDID_LEN)),
           Entry("user2edid", std::string(512, '0')) })
        EXPECT_THAT(file, HasSubstr(line));

    // The record image is zero with check word 255; the rest stays.
    ConfigOldBlock_S stCleared = stBlock;
    memset(&stCleared.stAttr, 0, sizeof(stCleared.stAttr));
    stCleared.stAttr.u32Crc = CONFIG_OLD_CLEARED_CRC;
    EXPECT_EQ(Bytes(stCleared), ReadBlock());
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;
    EXPECT_EQ(-1, Config_get_old(&stAttr, &stEdid));
}

// A save killed at any point leaves a whole file: killed while writing at
// any byte (the file-size limit kills the process when a write crosses it)
// the previous one, and the half-written file left beside it does not stand
// in the next save's way; killed at random moments, in whichever step, one
// of the two.
TEST_F(MainConfigTest, SaveKilledAnywhereLeavesAWholeFile)
{
    ConfigAttr_S astAttr[2];
    ConfigEdidText_S astEdid[2];
    std::string texts[2] = {DefaultFile(), ""};
    File_Write(CONFIG_FILE, texts[0]);
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    for (s32 i = 0; i < 2; i++) {
        ASSERT_EQ(0, Config_get(&astAttr[i], &astEdid[i], TEST_MAC));
        memset(astEdid[i].azRxEdid, 'a' + i, 512);
        astEdid[i].azRxEdid[512] = '\0';
    }
    g_bFileDebugOn = -1;   // the captured output must not reach the limit
    for (rlim_t limit : { 0, 1, 100, 1000, 2000 }) {
        s32 s32Status = 0;
        Child_Run(
            [&, limit] {
                struct rlimit stLimit = { limit, limit }, stNoCore = { 0, 0 };
                signal(SIGXFSZ, SIG_DFL);
                setrlimit(RLIMIT_CORE, &stNoCore);
                setrlimit(RLIMIT_FSIZE, &stLimit);
                _exit(Config_set(&astAttr[1], &astEdid[1]) == 0 ? 0 : 3);
            },
            &s32Status);
        EXPECT_EQ(128 + SIGXFSZ, s32Status) << limit;
        EXPECT_EQ(texts[0], File_Read(CONFIG_FILE)) << limit;
    }
    for (s32 i = 0; i < 2; i++) {
        ASSERT_EQ(0, Config_set(&astAttr[i], &astEdid[i]));
        texts[i] = File_Read(CONFIG_FILE);
    }
    EXPECT_NE(std::string::npos, texts[1].find(std::string(512, 'b')));
    for (u32 u32Round = 0; u32Round < 20; u32Round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        for (u32 i = 0; pid == 0; i++)
            (void)Config_set(&astAttr[i % 2], &astEdid[i % 2]);   // until killed
        usleep(2000 + u32Round * 1777 % 15000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string file = File_Read(CONFIG_FILE);
        ASSERT_TRUE(file == texts[0] || file == texts[1]) << "round " << u32Round << ":\n" << file;
    }
    g_bFileDebugOn = DEBUG_LOG_STDOUT;
    Config_deinit();
}

// A file system with no space left: a save fails and is tried again, 2 s
// later, then after 4 s; once space is freed the next try writes the
// change. At the program's stop, a save that failed is tried once more.
// A refused value alone is no reason to write the file again.
TEST_F(MainConfigTest, FailedSaveIsRetried)
{
    static const char s_azDir[] = "/tmp/cfgsmall";
    static const char s_azPath[] = "/tmp/cfgsmall/app.ini";
    static const char s_azFiller[] = "/tmp/cfgsmall/filler";
    ASSERT_EQ(0, mkdir(s_azDir, 0755));
    ASSERT_EQ(0, mount("tmpfs", s_azDir, "tmpfs", 0, "size=64k")) << strerror(errno);
    File_Write(s_azPath, DefaultFile());
    auto fill = [] { FillDisk(s_azFiller); };
    auto change = [](const char *pszAlias) {
        snprintf(g_stConfigAttr.stDevAttr.azAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "%s", pszAlias);
        (void)MAIN_CONFIG_Update();
    };
    std::string out = Child_Run([&] {
        if (Config_init(s_azPath, TEST_MAC) != 0 || MAIN_CONFIG_TimerInit() != 0 ||
            Config_get(&g_stConfigAttr, &g_stConfigAttrNew, TEST_MAC) != 0)
            return;
        s32 s32Fd = WatchDir(s_azDir);
        change("two\nlines");   // refused alone: the file is written, no try follows
        printf("saved refused=%zu\n", WatchFile(s32Fd, "app.ini", Now(), Now() + 5, 1).size());
        fill();
        change("while full");
        printf("tries=%zu\n", WatchFile(s32Fd, "app.ini.tmp", Now(), Now() + 8, 2).size());
        unlink(s_azFiller);
        printf("saved=%zu\n", WatchFile(s32Fd, "app.ini", Now(), Now() + 8, 1).size());
        fill();
        change("at the stop");
        printf("tries=%zu\n", WatchFile(s32Fd, "app.ini.tmp", Now(), Now() + 5, 1).size());
        unlink(s_azFiller);
        printf("deinit=%d\n", MAIN_CONFIG_deInit());
        printf("stopped with %s\n", File_Read(s_azPath).find(Entry("alias", "at the stop")) != std::string::npos
                                        ? "the change" : "no change");
    });
    umount2(s_azDir, MNT_DETACH);
    rmdir(s_azDir);
    for (const char *psz : { "saved refused=1\n", "tries=2\n", "saved=1\n", "tries=1\n", "deinit=0\n" })
        EXPECT_THAT(out, HasSubstr(psz));
    EXPECT_THAT(out, ContainsRegex("]: MAIN_CONFIG_Retry: settings not saved \\(tries: 1\\), next try in 2 s\n"
                                   ".*]: MAIN_CONFIG_Retry: settings not saved \\(tries: 2\\), next try in 4 s\n"
                                   ".*]: MAIN_CONFIG_Saved: settings saved after 2 failed tries\n"));
    EXPECT_THAT(out, HasSubstr("stopped with the change\n"));
}
