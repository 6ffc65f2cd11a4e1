// The supervisor: the HDCP debounce as a table of passes, then the thread
// against the FIFO, the recorded service programs and the address file.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/Main.h"
#include "app/MainMisc.h"
#include "app/MainService.h"
#include "config/ConfigAttr.h"
#include "core/Debug.h"
#include "net/Dot1x.h"
#include "rtsp/RtspServer.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "web/Lighttpd.h"

namespace {

std::function<u8(u32)> Always(u8 u8State)
{
    return [u8State](u32) { return u8State; };
}

std::function<s32(u32)> Mode(s32 s32Mode)
{
    return [s32Mode](u32) { return s32Mode; };
}

TEST(MiscHdcpTest, SeriesFromStartAndOnChanges)
{
    const struct {
        const char *pszCase;
        std::function<u8(u32)> state;
        std::function<s32(u32)> mode;
        std::vector<u32> due;
    } cases[] = {
        // Accepted on the 12th differing pass, which starts a series again.
        {"start", Always(0), Mode(0), {0, 11, 111, 211, 311, 312}},
        // Flicker on alternate passes is never accepted.
        {"flicker", [](u32 i) -> u8 { return i % 2 ? 1 : MISC_HDCP_NONE; }, Mode(0), {0, 100, 200, 300, 301}},
        // Eleven passes of another state are not enough, twelve are.
        {"short", [](u32 i) -> u8 { return i >= 400 && i < 411 ? 1 : 0; }, Mode(0), {0, 11, 111, 211, 311, 312}},
        {"accepted", [](u32 i) -> u8 { return i >= 400 ? 1 : 0; }, Mode(0),
         {0, 11, 111, 211, 311, 312, 411, 511, 611, 711, 712}},
        // A mode change alone starts a series.
        {"mode", Always(0), [](u32 i) { return i >= 500 ? 3 : 0; }, {0, 11, 111, 211, 311, 312, 500, 600, 700, 800, 801}},
        // A change during a series starts it from its beginning.
        {"restart", [](u32 i) -> u8 { return i >= 150 ? 1 : 0; }, Mode(0), {0, 11, 111, 161, 261, 361, 461, 462}},
    };
    for (const auto &c : cases) {
        MiscHdcp_S stHdcp;
        MAIN_Misc_HdcpInit(&stHdcp);
        std::vector<u32> due;   // passes in which announcements are due
        for (u32 i = 0; i < 1000; i++)
            if (MAIN_Misc_HdcpPass(&stHdcp, c.state(i), c.mode(i)))
                due.push_back(i);
        EXPECT_EQ(c.due, due) << c.pszCase;
    }
}

bool WaitFor(const std::function<bool()> &cond, int s32Ms = 3000)
{
    for (int i = 0; i < s32Ms / 10; i++) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

// Returns once a whole pass has run after the call. A key frame request is
// served at the end of a pass, so the second of two is served by a pass
// that began after the first was served.
bool WaitWholePass()
{
    for (int i = 0; i < 2; i++) {
        g_bRequestIDR[0] = 1;
        if (!WaitFor([] { return g_bRequestIDR[0] == 0; }))
            return false;
    }
    return true;
}

// The command daemon's end of the FIFO.
struct FifoReader {
    int s32Fd = open(MISC_CMD_FIFO, O_RDONLY | O_NONBLOCK);
    std::string text;

    ~FifoReader()
    {
        if (s32Fd >= 0)
            close(s32Fd);
    }
    void Take(int s32Ms)
    {
        struct pollfd stPfd = {s32Fd, POLLIN, 0};
        char az[256];
        while (poll(&stPfd, 1, s32Ms) > 0) {
            ssize_t n = read(s32Fd, az, sizeof(az));
            if (n <= 0)
                break;
            text.append(az, (size_t)n);
        }
    }
    // Waits until the text collected so far ends with want.
    bool WaitEnd(const std::string &want)
    {
        return WaitFor([&] {
            Take(10);
            return text.size() >= want.size() && text.compare(text.size() - want.size(), want.size(), want) == 0;
        });
    }
    // Waits until all the text collected is want: an earlier restart that
    // ends the same way does not count for the one awaited.
    bool WaitText(const std::string &want)
    {
        return WaitFor([&] {
            Take(10);
            return text == want;
        });
    }
};

struct MainMiscTest : public testing::Test {
    size_t sizeCalls = 0;

    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);
        memset(&g_stConfigAttr, 0, sizeof(g_stConfigAttr));
        memset(&g_stMainServerAttr, 0, sizeof(g_stMainServerAttr));
        g_stConfigAttr.stMisc.s32Ports = 1;
        g_stConfigAttr.stMisc.s32Ssh = 1;
        g_stConfigAttr.stMisc.s32Web = 1;
        g_stMainServerAttr.stConifg.stWeb.u32Port = 80;
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        unlink(MISC_SOURCEIP_FILE);
        unlink(LIGHTTPD_CONF);
        sizeCalls = File_Read("/board/calls.log").size();
    }
    void TearDown() override { MAIN_Misc_Stop(); }
    std::string Calls() { return File_Calls("/board/calls.log", sizeCalls); }
    bool WaitCalls(const std::string &want)
    {
        return WaitFor([&] { return Calls() == want; });
    }
};

TEST_F(MainMiscTest, AddressFileFollowsTheAddress)
{
    snprintf(g_stMainServerAttr.stConifg.azHostIP, 32, "169.254.3.4");
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(WaitFor([] { return File_Read(MISC_SOURCEIP_FILE) == "169.254.3.4"; }));
    // The same text again writes nothing.
    unlink(MISC_SOURCEIP_FILE);
    snprintf(g_stMainServerAttr.stConifg.azHostIP, 32, "169.254.3.4");
    ASSERT_TRUE(WaitWholePass());
    EXPECT_EQ("", File_Read(MISC_SOURCEIP_FILE));
    snprintf(g_stMainServerAttr.stConifg.azHostIP, 32, "10.1.2.3");
    EXPECT_TRUE(WaitFor([] { return File_Read(MISC_SOURCEIP_FILE) == "10.1.2.3"; }));
}

// HTTPS or a new port restarts the web server once; the same port does not.
TEST_F(MainMiscTest, WebServerFollowsHttpsAndPort)
{
    FifoReader reader;
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(reader.WaitText("ss http start!"));
    EXPECT_EQ(std::string::npos, File_Read(LIGHTTPD_CONF).find("ssl.engine"));
    EXPECT_EQ(1, g_bHttpdWebOn);

    g_stConfigAttr.stMisc.s32Https = 1;
    const std::string restarted = "ss http start!ss http stop!ss http start!";
    ASSERT_TRUE(reader.WaitText(restarted));
    EXPECT_NE(std::string::npos, File_Read(LIGHTTPD_CONF).find("ssl.engine"));

    g_stMainServerAttr.stConifg.stWeb.u32Port = 80;
    g_stConfigAttr.stMisc.s32Web = 0;
    ASSERT_TRUE(WaitWholePass());
    reader.Take(10);
    EXPECT_EQ(restarted, reader.text) << "same port, no restart";
    EXPECT_EQ(0, g_bHttpdWebOn);

    // Both at once: one restart with the new port.
    g_stMainServerAttr.stConifg.stWeb.u32Port = 8080;
    g_stConfigAttr.stMisc.s32Https = 0;
    const std::string twice = restarted + "ss http stop!ss http start!";
    ASSERT_TRUE(reader.WaitText(twice)) << reader.text;
    ASSERT_TRUE(WaitWholePass());
    reader.Take(10);
    EXPECT_EQ(twice, reader.text);
    std::string conf = File_Read(LIGHTTPD_CONF);
    EXPECT_NE(std::string::npos, conf.find("server.port = 8080"));
    EXPECT_EQ(std::string::npos, conf.find("ssl.engine"));

    // Key frame requests and the log mode are served too.
    g_bRequestIDR[0] = 1;
    g_bRequestIDR[1] = 1;
    EXPECT_TRUE(WaitFor([] { return g_bRequestIDR[0] == 0 && g_bRequestIDR[1] == 0; }));
    g_stConfigAttr.stMisc.s32FileDebug = 5;   // silent
    EXPECT_TRUE(WaitFor([] { return g_bFileDebugOn == 5; }));
    g_stConfigAttr.stMisc.s32FileDebug = DEBUG_LOG_STDOUT;
    EXPECT_TRUE(WaitFor([] { return g_bFileDebugOn == DEBUG_LOG_STDOUT; }));
    // Without 802.1X the ports' switch stops SSH only.
    g_stConfigAttr.stMisc.s32Ports = 0;
    EXPECT_TRUE(WaitCalls("killall -9 telnetd;killall -9 dropbear;")) << Calls();
}

// Without a reader the thread runs on, logs once, and delivers later.
TEST_F(MainMiscTest, FifoWithoutReaderDoesNotHoldTheThread)
{
    std::string out = Child_Run([] {
        snprintf(g_stMainServerAttr.stConifg.azHostIP, 32, "169.254.9.9");
        MAIN_Misc_Start();
        bool bIp = WaitFor([] { return File_Read(MISC_SOURCEIP_FILE) == "169.254.9.9"; });
        bool bPasses = WaitWholePass() && WaitWholePass();   // passes that find no reader
        FifoReader reader;
        bool bStart = reader.WaitEnd("ss http start!");
        MAIN_Misc_Stop();
        printf("<ip %d passes %d start %d>\n", bIp, bPasses, bStart);
    });
    EXPECT_NE(std::string::npos, out.find("<ip 1 passes 1 start 1>")) << out;
    size_t sizeAt = out.find("open fifodeamon");
    ASSERT_NE(std::string::npos, sizeAt) << out;
    EXPECT_EQ(std::string::npos, out.find("open fifodeamon", sizeAt + 1)) << "logged more than once";
}

// A daemon that goes away and comes back gets the start it missed.
TEST_F(MainMiscTest, DaemonBackGetsTheMissedStart)
{
    auto first = std::make_unique<FifoReader>();
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(first->WaitEnd("ss http start!"));
    first.reset();
    g_stConfigAttr.stMisc.s32Https = 1;
    ASSERT_TRUE(WaitFor([] { return File_Read(LIGHTTPD_CONF).find("ssl.engine") != std::string::npos; }));
    FifoReader second;
    ASSERT_TRUE(second.WaitText("ss http start!")) << second.text;
    ASSERT_TRUE(WaitWholePass());
    second.Take(10);
    EXPECT_EQ("ss http start!", second.text);
}

// SSH is taken to run at start: enabled, it is left alone; its switch stops
// and starts it. 802.1X restarts on new credentials. Telnet is stopped once;
// the ports' master switch stops both.
TEST_F(MainMiscTest, SshDot1xAndTelnetSwitching)
{
    const std::string start = "wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;";
    const std::string stop = "wpa_cli -i eth0 logoff;wpa_cli -i eth0 terminate;";
    const std::string ssh = "dropbear -r /customer/ssh/key/dropbear_rsa_host_key;";
    FifoReader reader;
    snprintf(g_stConfigAttr.stMisc.azDot1xUser, 64, "alice");
    snprintf(g_stConfigAttr.stMisc.azDot1xPwd, 64, "secret");
    g_stConfigAttr.stMisc.s32Dot1x = 1;
    ASSERT_EQ(0, MAIN_Misc_Start());
    std::string want = start + "killall -9 telnetd;";
    ASSERT_TRUE(WaitCalls(want));
    EXPECT_NE(std::string::npos, File_Read("/tmp/wpa_supplicant.conf").find("password=\"secret\""));
    g_stConfigAttr.stMisc.s32Ssh = 0;
    ASSERT_TRUE(WaitCalls(want += "killall -9 dropbear;"));
    g_stConfigAttr.stMisc.s32Ssh = 1;
    ASSERT_TRUE(WaitCalls(want += ssh));
    // One byte written over the terminator: the thread never reads a text
    // half old and half new, which would be a credential change of its own.
    g_stConfigAttr.stMisc.azDot1xPwd[6] = '2';
    ASSERT_TRUE(WaitCalls(want += stop + start)) << Calls();
    EXPECT_NE(std::string::npos, File_Read("/tmp/wpa_supplicant.conf").find("password=\"secret2\""));
    // 802.1X and SSH each read the switch: a change between the two reads
    // stops SSH first and 802.1X on the next pass.
    g_stConfigAttr.stMisc.s32Ports = 0;
    ASSERT_TRUE(WaitFor([&] {
        return Calls() == want + stop + "killall -9 dropbear;" || Calls() == want + "killall -9 dropbear;" + stop;
    })) << Calls();
    want = Calls();
    ASSERT_TRUE(WaitWholePass());
    EXPECT_EQ(want, Calls());
}

// Writes the password while the thread reads it, a byte at a time from
// the end and the old text's quote last: every text a pass can see
// meanwhile is the old one, the new one, or one still refused for its quote.
static void Dot1x_SetPwdLive(const char *pszNew)
{
    char *pszPwd = g_stConfigAttr.stMisc.azDot1xPwd;
    size_t sizeQuote = strcspn(pszPwd, "\"");
    for (size_t i = strlen(pszNew) + 1; i-- > 0;) {
        if (i != sizeQuote)
            __atomic_store_n(&pszPwd[i], pszNew[i], __ATOMIC_RELAXED);
    }
    __atomic_store_n(&pszPwd[sizeQuote], pszNew[sizeQuote], __ATOMIC_RELAXED);
}

// Credentials the supplicant's file cannot carry are refused once per
// change of them, not on every pass; good ones then start it at once.
TEST_F(MainMiscTest, RefusedDot1xCredentialsAreLoggedOncePerChange)
{
    std::string out = Child_Run([] {
        snprintf(g_stConfigAttr.stMisc.azDot1xUser, 64, "alice");
        snprintf(g_stConfigAttr.stMisc.azDot1xPwd, 64, "pa\"ss");
        g_stConfigAttr.stMisc.s32Dot1x = 1;
        MAIN_Misc_Start();
        bool bPasses = true;
        for (const char *pszPwd : { "pa\"ss2", "secret" }) {
            for (int i = 0; i < 5; i++)
                bPasses = WaitWholePass() && bPasses;
            printf("<next>\n");
            Dot1x_SetPwdLive(pszPwd);
        }
        bool bStarted =
            WaitFor([] { return File_Read(DOT1X_CONF).find("password=\"secret\"") != std::string::npos; });
        MAIN_Misc_Stop();
        printf("<passes %d started %d>\n", bPasses, bStarted);
    });
    EXPECT_NE(std::string::npos, out.find("<passes 1 started 1>")) << out;
    size_t sizeNext = out.find("<next>");
    ASSERT_NE(std::string::npos, sizeNext) << out;
    // Times that what stands in text between sizeFrom and sizeTo.
    auto count = [](const std::string &text, const std::string &what, size_t sizeFrom, size_t sizeTo) {
        size_t n = 0;
        for (size_t at = text.find(what, sizeFrom); at < sizeTo; at = text.find(what, at + 1))
            n++;
        return n;
    };
    const std::string refused = "MAIN_8021xClient_Start: user or password refused";
    EXPECT_EQ(1u, count(out, refused, 0, sizeNext)) << out;
    EXPECT_EQ(1u, count(out, refused, sizeNext, out.find("<next>", sizeNext + 1))) << out;
    EXPECT_EQ(1u, count(Calls(), "wpa_supplicant -B", 0, std::string::npos)) << Calls();
}

// An ID set during a pass (the web restart pause) is seen on the next.
TEST_F(MainMiscTest, IdChangeDuringAPassIsSeenNext)
{
    std::string out = Child_Run([] {
        FifoReader reader;
        MAIN_Misc_Start();
        bool bFirst = reader.WaitEnd("ss http start!");
        g_stConfigAttr.stMisc.s32Https = 1;
        bool bStop = reader.WaitEnd("ss http stop!");
        g_stConfigAttr.stManual.s32ID = 7;
        bool bStart = reader.WaitEnd("ss http start!");
        bool bPass = WaitWholePass();
        MAIN_Misc_Stop();
        printf("<%d %d %d %d>\n", bFirst, bStop, bStart, bPass);
    });
    EXPECT_NE(std::string::npos, out.find("<1 1 1 1>")) << out;
    EXPECT_NE(std::string::npos, out.find("Main_Misc_Thread: id change")) << out;
}

// The telnet daemon runs in the background on the port it is given.
TEST_F(MainMiscTest, TelnetServerStartsOnThePort)
{
    ASSERT_EQ(0, MAIN_TelnetServer_Start(2323));
    EXPECT_TRUE(WaitCalls("telnetd -p 2323;")) << Calls();
}

TEST(MainServiceTest, PasswordFileIsMovedOnlyWhenDelivered)
{
    File_Write("/etc/passwd", "root:x:0:0::/root:/bin/sh\n");
    unlink(SERVICE_PASSWD_FILE);
    EXPECT_EQ(0, MAIN_Init_SysPassword());
    EXPECT_EQ("root:x:0:0::/root:/bin/sh\n", File_Read("/etc/passwd"));
    File_Write(SERVICE_PASSWD_FILE, "admin:x:0:0::/root:/bin/sh\n");
    EXPECT_EQ(0, MAIN_Init_SysPassword());
    EXPECT_EQ("admin:x:0:0::/root:/bin/sh\n", File_Read("/etc/passwd"));
    EXPECT_NE(0, access(SERVICE_PASSWD_FILE, F_OK));
}

}  // namespace
