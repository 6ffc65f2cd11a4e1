// The store's life in a process: each scenario runs in a child of its own,
// as the save timer and the loaded file live once per process.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "config/Config.h"
#include "core/Debug.h"
#include "core/Main.h"
#include "tests/config/ConfigTest.h"
#include "tests/support/Child.h"
#include "upgrade/ConfigOld.h"
#include "upgrade/Flash.h"

static double Now(void)
{
    struct timespec st;
    clock_gettime(CLOCK_MONOTONIC, &st);
    return (double)st.tv_sec + (double)st.tv_nsec / 1e9;
}

// Seconds after t0 at which "/etc/app.ini" was replaced or rewritten, seen
// until tEnd; the watch starts at the call.
static std::vector<double> WatchSaves(double t0, double tEnd)
{
    std::vector<double> times;
    s32 s32Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s32Fd < 0 || inotify_add_watch(s32Fd, "/etc", IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        times.assign(100, -1.0);   // shows as a failure in every caller
        return times;
    }
    for (double t = Now(); t < tEnd; t = Now()) {
        struct pollfd stPoll = { s32Fd, POLLIN, 0 };
        if (poll(&stPoll, 1, (int)((tEnd - t) * 1000) + 1) <= 0)
            continue;
        alignas(struct inotify_event) char az[4096];
        ssize_t n = read(s32Fd, az, sizeof(az));
        for (ssize_t i = 0; i < n;) {
            const struct inotify_event *pst = (const struct inotify_event *)(az + i);
            if (pst->len > 0 && strcmp(pst->name, "app.ini") == 0)
                times.push_back(Now() - t0);
            i += (ssize_t)(sizeof(*pst) + pst->len);
        }
    }
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

static std::string Bytes(const void *pv, size_t sizeLen)
{
    return std::string((const char *)pv, sizeLen);
}

// A start-up: load, read the record, and report what the record holds.
static void StartUp(void)
{
    s32 s32Init = MAIN_CONFIG_Init();
    s32 s32Recv = MAIN_CONFIG_Recv(&g_stConfigAttr, &g_stConfigAttrNew);
    printf("init=%d recv=%d alias=%s\n", s32Init, s32Recv, g_stConfigAttr.stDevAttr.azAlias);
}

struct MainConfigTest : public testing::Test {
    void SetUp() override
    {
        unlink(CONFIG_FILE);
        unlink(CONFIG_FILE ".tmp");
        std::string erased(CONFIG_OLD_LEN, '\xff');
        WriteFlash(erased.data(), CONFIG_OLD_LEN);
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        snprintf(g_stMainServerAttr.stDevInfo.azMac, sizeof(g_stMainServerAttr.stDevInfo.azMac), TEST_MAC);
    }
};

// No file and no old block: the defaults are written, with the three
// messages in their order.
TEST_F(MainConfigTest, FirstStartWritesTheDefaults)
{
    std::string out = Child_Run(StartUp);
    size_t sizeAt = out.find("]: /etc/app.ini ini not file\n");
    sizeAt = out.find("]: MAIN_CONFIG_Init: no app.ini, try to find old params\n", sizeAt);
    sizeAt = out.find("]: Config_get_old failed with 0xffffffff!\n", sizeAt);
    EXPECT_NE(std::string::npos, sizeAt) << out;
    EXPECT_TRUE(Contains(out, "init=0 recv=0 alias=KVB 001\n")) << out;
    EXPECT_EQ(g_azDefaultFile, ReadFile(CONFIG_FILE));
}

// Ten changes within a second: one write, 2 s after the last change.
TEST_F(MainConfigTest, BurstOfChangesGivesOneWrite)
{
    WriteFile(CONFIG_FILE, g_azDefaultFile);
    std::string out = Child_Run([] {
        StartUp();
        double tLast = 0;
        for (s32 i = 0; i < 10; i++) {
            char *pszAlias = g_stConfigAttr.stDevAttr.azAlias;
            snprintf(pszAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "change %d", i);
            if (MAIN_CONFIG_Update() != 0)
                printf("update failed\n");
            tLast = Now();
            if (i < 9)
                usleep(100000);
        }
        std::vector<double> saves = WatchSaves(tLast, tLast + 4.5);
        printf("saves=%zu first=%.3f\n", saves.size(), saves.empty() ? -1.0 : saves[0]);
    });
    u32 u32Saves = 0;
    double dFirst = 0;
    const char *psz = strstr(out.c_str(), "saves=");
    ASSERT_NE(nullptr, psz) << out;
    ASSERT_EQ(2, sscanf(psz, "saves=%u first=%lf", &u32Saves, &dFirst));
    EXPECT_EQ(1u, u32Saves);
    EXPECT_GE(dFirst, 1.9);
    EXPECT_LE(dFirst, 2.8);
    EXPECT_FALSE(Contains(out, "update failed"));
    EXPECT_TRUE(Contains(ReadFile(CONFIG_FILE), Entry("alias", "change 9")));
}

TEST_F(MainConfigTest, UpdateWithoutTimerFails)
{
    WriteFile(CONFIG_FILE, g_azDefaultFile);
    std::string out = Child_Run([] {
        printf("before=%d ", MAIN_CONFIG_Update());
        printf("deinit=%d ", MAIN_CONFIG_deInit());
        StartUp();
        printf("deinit=%d ", MAIN_CONFIG_deInit());
        printf("after=%d\n", MAIN_CONFIG_Update());
    });
    EXPECT_TRUE(Contains(out, "before=-1 ")) << out;
    EXPECT_TRUE(Contains(out, "deinit=-1 ")) << out;
    EXPECT_TRUE(Contains(out, "deinit=0 ")) << out;
    EXPECT_TRUE(Contains(out, "after=-1\n")) << out;
    EXPECT_TRUE(Contains(out, "]: MAIN_CONFIG_Update: no save timer\n")) << out;
    EXPECT_TRUE(Contains(out, "]: timer_delete failed!\n")) << out;
}

// A save that comes due while a factory reset runs waits for the store's
// lock, then sees the block and writes nothing; later changes write nothing
// either.
TEST_F(MainConfigTest, FactoryResetBlocksSaves)
{
    std::string text = std::string(g_azDefaultFile) + "; gone after the reset\n";
    WriteFile(CONFIG_FILE, text);
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
        printf("saves=%zu\n", WatchSaves(Now(), Now() + 3.0).size());
    });
    EXPECT_TRUE(Contains(out, "reset=0\nsaves=0\n")) << out;
    EXPECT_EQ(g_azDefaultFile, ReadFile(CONFIG_FILE));
}

// The first start after older firmware takes its settings over, web account
// and EDIDs included, then clears the block's record image.
TEST_F(MainConfigTest, MigratesTheOldBlockOnce)
{
    ConfigOldBlock_S stBlock = OldBlock("old alias");
    WriteFlash(&stBlock, sizeof(stBlock));
    std::string out = Child_Run([] {
        StartUp();
        const MainServerAttr_S &st = g_stMainServerAttr;
        printf("copy=%u,%u user1=%u\n", st.au8CopyEdid[1], st.au8CopyEdid[255], st.au8User1Edid[0]);
    });
    EXPECT_TRUE(Contains(out, "init=0 recv=0 alias=old alias\ncopy=1,255 user1=255\n")) << out;
    EXPECT_FALSE(Contains(out, "failed")) << out;

    std::string file = ReadFile(CONFIG_FILE);
    std::string rx, user1;
    for (u32 i = 0; i < MAIN_EDID_LEN; i++) {
        char az[3];
        snprintf(az, sizeof(az), "%02x", i);
        rx += az;
        snprintf(az, sizeof(az), "%02x", 255 - i);
        user1 += az;
    }
    for (const std::string &line :
         { Entry("alias", "old alias"), Entry("httpport", "8080"), Entry("id", "42"),
           Entry("webuser", "olduser"), Entry("webpsw", std::string(63, 'p')), Entry("rxedid", rx),
           Entry("user1edid", user1), Entry("user2edid", std::string(512, '0')) })
        EXPECT_TRUE(Contains(file, line)) << line;

    // The record image is zero with check word 255; the rest stays.
    ConfigOldBlock_S stCleared = stBlock;
    memset(&stCleared.stAttr, 0, sizeof(stCleared.stAttr));
    stCleared.stAttr.u32Crc = CONFIG_OLD_CLEARED_CRC;
    EXPECT_EQ(Bytes(&stCleared, sizeof(stCleared)), ReadFlash(CONFIG_OLD_LEN));
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;
    EXPECT_EQ(-1, Config_get_old(&stAttr, &stEdid));
}

// A block whose check word does not match is left alone.
TEST_F(MainConfigTest, IgnoresACorruptedBlock)
{
    ConfigOldBlock_S stBlock = OldBlock("old alias");
    stBlock.stAttr.stDevAttr.azAlias[0] ^= 1;
    WriteFlash(&stBlock, sizeof(stBlock));
    std::string out = Child_Run(StartUp);
    EXPECT_TRUE(Contains(out, "]: Config_get_old failed with 0xffffffff!\n")) << out;
    EXPECT_EQ(g_azDefaultFile, ReadFile(CONFIG_FILE));
    EXPECT_EQ(Bytes(&stBlock, sizeof(stBlock)), ReadFlash(CONFIG_OLD_LEN));
}

// Settings that cannot be stored leave the old block in place.
TEST_F(MainConfigTest, KeepsTheBlockWhenTheSettingsCannotBeStored)
{
    ConfigOldBlock_S stBlock = OldBlock("two\nlines");
    WriteFlash(&stBlock, sizeof(stBlock));
    std::string out = Child_Run(StartUp);
    EXPECT_TRUE(Contains(out, "]: set devattr:alias failed\n")) << out;
    EXPECT_EQ(g_azDefaultFile, ReadFile(CONFIG_FILE));
    EXPECT_EQ(Bytes(&stBlock, sizeof(stBlock)), ReadFlash(CONFIG_OLD_LEN));
}

// A save killed while writing, at any byte, leaves the previous file whole:
// the file-size limit kills the process when a write crosses it.
TEST_F(MainConfigTest, SaveKilledWhileWritingKeepsTheOldFile)
{
    WriteFile(CONFIG_FILE, g_azDefaultFile);
    const std::string previous = g_azDefaultFile;
    for (rlim_t limit : { 0, 1, 100, 1000, 2000 }) {
        s32 s32Status = 0;
        Child_Run(
            [limit] {
                g_bFileDebugOn = -1;   // the captured output must not reach the limit
                ConfigAttr_S stAttr;
                ConfigEdidText_S stEdid;
                if (Config_init(CONFIG_FILE, TEST_MAC) != 0 || Config_get(&stAttr, &stEdid, TEST_MAC) != 0)
                    _exit(2);
                snprintf(stAttr.stDevAttr.azAlias, sizeof(stAttr.stDevAttr.azAlias), "new alias");
                struct rlimit stLimit = { limit, limit }, stNoCore = { 0, 0 };
                signal(SIGXFSZ, SIG_DFL);
                setrlimit(RLIMIT_CORE, &stNoCore);
                setrlimit(RLIMIT_FSIZE, &stLimit);
                _exit(Config_set(&stAttr, &stEdid) == 0 ? 0 : 3);
            },
            &s32Status);
        EXPECT_EQ(128 + SIGXFSZ, s32Status) << limit;
        EXPECT_EQ(previous, ReadFile(CONFIG_FILE)) << limit;
    }
    // A leftover half-written file does not stand in the next save's way.
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    snprintf(stAttr.stDevAttr.azAlias, sizeof(stAttr.stDevAttr.azAlias), "new alias");
    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    EXPECT_TRUE(Contains(ReadFile(CONFIG_FILE), Entry("alias", "new alias")));
    Config_deinit();
}

// Saves killed at random moments, in whichever step they are, leave one of
// the two whole files.
TEST_F(MainConfigTest, SaveKilledAtAnyMomentLeavesAWholeFile)
{
    ConfigAttr_S astAttr[2];
    ConfigEdidText_S astEdid[2];
    std::string texts[2];
    WriteFile(CONFIG_FILE, g_azDefaultFile);
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    for (s32 i = 0; i < 2; i++) {
        ASSERT_EQ(0, Config_get(&astAttr[i], &astEdid[i], TEST_MAC));
        memset(astEdid[i].azRxEdid, i == 0 ? 'a' : 'b', 512);
        astEdid[i].azRxEdid[512] = '\0';
        snprintf(astAttr[i].stDevAttr.azAlias, sizeof(astAttr[i].stDevAttr.azAlias), "version %d", i);
        ASSERT_EQ(0, Config_set(&astAttr[i], &astEdid[i]));
        texts[i] = ReadFile(CONFIG_FILE);
    }
    g_bFileDebugOn = -1;
    for (u32 u32Round = 0; u32Round < 20; u32Round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (u32 i = 0;; i++)
                (void)Config_set(&astAttr[i % 2], &astEdid[i % 2]);   // until killed
        }
        usleep(2000 + u32Round * 1777 % 15000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string file = ReadFile(CONFIG_FILE);
        ASSERT_TRUE(file == texts[0] || file == texts[1]) << "round " << u32Round << ":\n" << file;
    }
    g_bFileDebugOn = DEBUG_LOG_STDOUT;
    Config_deinit();
}
