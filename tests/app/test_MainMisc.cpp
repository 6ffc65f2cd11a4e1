// The supervisor: the HDCP debounce and announcement series as a table of
// passes, then the thread itself against the box's stand-ins: the command
// daemon's FIFO, the recorded service programs, the address file.
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
#include "rtsp/RtspServer.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "web/Lighttpd.h"

namespace {

// The passes (from 0) in which announcements are due, for a state and a
// mode given per pass.
std::vector<u32> Announcements(MiscHdcp_S *pstHdcp, u32 u32Passes, const std::function<u8(u32)> &state,
                               const std::function<s32(u32)> &mode)
{
    std::vector<u32> due;
    for (u32 i = 0; i < u32Passes; i++)
        if (MAIN_Misc_HdcpPass(pstHdcp, state(i), mode(i)))
            due.push_back(i);
    return due;
}

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
        // The first pass starts a series; the state is accepted on pass 11
        // (the 12th that differs) and starts it again.
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
        EXPECT_EQ(c.due, Announcements(&stHdcp, 1000, c.state, c.mode)) << c.pszCase;
    }
}

// ------------------------------------------------------------ the thread

bool WaitFor(const std::function<bool()> &cond, int s32Ms = 3000)
{
    for (int i = 0; i < s32Ms / 10; i++) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

// The command daemon's end of the FIFO: collects what arrives.
struct FifoReader {
    int s32Fd = -1;
    std::string text;

    void Open() { s32Fd = open(MISC_CMD_FIFO, O_RDONLY | O_NONBLOCK); }
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
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ("", File_Read(MISC_SOURCEIP_FILE));
    snprintf(g_stMainServerAttr.stConifg.azHostIP, 32, "10.1.2.3");
    EXPECT_TRUE(WaitFor([] { return File_Read(MISC_SOURCEIP_FILE) == "10.1.2.3"; }));
}

// The web server is configured and started on the first pass; HTTPS or a
// new port restarts it once with what was set; the same port again does not.
TEST_F(MainMiscTest, WebServerFollowsHttpsAndPort)
{
    FifoReader reader;
    reader.Open();
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(reader.WaitEnd("ss http start!"));
    EXPECT_EQ("ss http start!", reader.text);
    EXPECT_EQ(std::string::npos, File_Read(LIGHTTPD_CONF).find("ssl.engine"));
    EXPECT_EQ(1, g_bHttpdWebOn);

    g_stConfigAttr.stMisc.s32Https = 1;
    ASSERT_TRUE(reader.WaitEnd("ss http stop!ss http start!"));
    EXPECT_NE(std::string::npos, File_Read(LIGHTTPD_CONF).find("ssl.engine"));

    g_stMainServerAttr.stConifg.stWeb.u32Port = 80;
    g_stConfigAttr.stMisc.s32Web = 0;
    reader.Take(200);
    EXPECT_EQ("ss http start!ss http stop!ss http start!", reader.text) << "same port, no restart";
    EXPECT_EQ(0, g_bHttpdWebOn);

    // Both at once: one restart with the new port.
    g_stMainServerAttr.stConifg.stWeb.u32Port = 8080;
    g_stConfigAttr.stMisc.s32Https = 0;
    ASSERT_TRUE(reader.WaitEnd("ss http stop!ss http start!"));
    reader.Take(200);
    EXPECT_EQ("ss http start!ss http stop!ss http start!ss http stop!ss http start!", reader.text);
    std::string conf = File_Read(LIGHTTPD_CONF);
    EXPECT_NE(std::string::npos, conf.find("server.port = 8080"));
    EXPECT_EQ(std::string::npos, conf.find("ssl.engine"));
}

// Without the daemon's reader the thread runs on (the address file is
// written), logs the open failure once, and the start reaches the daemon
// once it reads.
TEST_F(MainMiscTest, FifoWithoutReaderDoesNotHoldTheThread)
{
    std::string out = Child_Run([] {
        snprintf(g_stMainServerAttr.stConifg.azHostIP, 32, "169.254.9.9");
        MAIN_Misc_Start();
        bool bIp = WaitFor([] { return File_Read(MISC_SOURCEIP_FILE) == "169.254.9.9"; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        FifoReader reader;
        reader.Open();
        bool bStart = reader.WaitEnd("ss http start!");
        MAIN_Misc_Stop();
        printf("<ip %d start %d>\n", bIp, bStart);
    });
    EXPECT_NE(std::string::npos, out.find("<ip 1 start 1>")) << out;
    size_t sizeAt = out.find("open fifodeamon");
    ASSERT_NE(std::string::npos, sizeAt) << out;
    EXPECT_EQ(std::string::npos, out.find("open fifodeamon", sizeAt + 1)) << "logged more than once";
}

// A daemon that goes away and comes back gets the start it missed.
TEST_F(MainMiscTest, DaemonBackGetsTheMissedStart)
{
    auto first = std::make_unique<FifoReader>();
    first->Open();
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(first->WaitEnd("ss http start!"));
    first.reset();
    g_stConfigAttr.stMisc.s32Https = 1;
    ASSERT_TRUE(WaitFor([] { return File_Read(LIGHTTPD_CONF).find("ssl.engine") != std::string::npos; }));
    FifoReader second;
    second.Open();
    ASSERT_TRUE(second.WaitEnd("ss http start!"));
    second.Take(100);
    EXPECT_EQ("ss http start!", second.text);
}

// SSH is taken to run at start: enabled, it is left alone; the switch and
// the ports' master switch stop and start it. Telnet is stopped once.
TEST_F(MainMiscTest, SshAndTelnetSwitching)
{
    FifoReader reader;
    reader.Open();
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(WaitCalls("killall -9 telnetd;"));
    g_stConfigAttr.stMisc.s32Ssh = 0;
    ASSERT_TRUE(WaitCalls("killall -9 telnetd;killall -9 dropbear;"));
    g_stConfigAttr.stMisc.s32Ssh = 1;
    ASSERT_TRUE(WaitCalls("killall -9 telnetd;killall -9 dropbear;dropbear -r /customer/ssh/key/dropbear_rsa_host_key;"));
    g_stConfigAttr.stMisc.s32Ports = 0;
    ASSERT_TRUE(WaitCalls("killall -9 telnetd;killall -9 dropbear;dropbear -r /customer/ssh/key/dropbear_rsa_host_key;"
                          "killall -9 dropbear;"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ("killall -9 telnetd;killall -9 dropbear;dropbear -r /customer/ssh/key/dropbear_rsa_host_key;"
              "killall -9 dropbear;",
              Calls());
}

// Started with the switches, restarted on new credentials, stopped when
// the ports' master switch goes off.
TEST_F(MainMiscTest, Dot1xFollowsSwitchesAndCredentials)
{
    const std::string start = "wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;";
    const std::string stop = "wpa_cli -i eth0 logoff;wpa_cli -i eth0 terminate;";
    FifoReader reader;
    reader.Open();
    snprintf(g_stConfigAttr.stMisc.azDot1xUser, 64, "alice");
    snprintf(g_stConfigAttr.stMisc.azDot1xPwd, 64, "secret");
    g_stConfigAttr.stMisc.s32Dot1x = 1;
    ASSERT_EQ(0, MAIN_Misc_Start());
    ASSERT_TRUE(WaitCalls(start + "killall -9 telnetd;"));
    EXPECT_NE(std::string::npos, File_Read("/tmp/wpa_supplicant.conf").find("password=\"secret\""));
    snprintf(g_stConfigAttr.stMisc.azDot1xPwd, 64, "other");
    ASSERT_TRUE(WaitCalls(start + "killall -9 telnetd;" + stop + start));
    EXPECT_NE(std::string::npos, File_Read("/tmp/wpa_supplicant.conf").find("password=\"other\""));
    g_stConfigAttr.stMisc.s32Ports = 0;
    ASSERT_TRUE(WaitCalls(start + "killall -9 telnetd;" + stop + start + stop + "killall -9 dropbear;"));
}

TEST_F(MainMiscTest, KeyFrameRequestsAndLogModeAreServed)
{
    FifoReader reader;
    reader.Open();
    ASSERT_EQ(0, MAIN_Misc_Start());
    g_bRequestIDR[0] = 1;
    g_bRequestIDR[1] = 1;
    EXPECT_TRUE(WaitFor([] { return g_bRequestIDR[0] == 0 && g_bRequestIDR[1] == 0; }));
    g_stConfigAttr.stMisc.s32FileDebug = 5;   // silent
    EXPECT_TRUE(WaitFor([] { return g_bFileDebugOn == 5; }));
    g_stConfigAttr.stMisc.s32FileDebug = DEBUG_LOG_STDOUT;
    EXPECT_TRUE(WaitFor([] { return g_bFileDebugOn == DEBUG_LOG_STDOUT; }));
}

// A new device ID set while a pass is busy (here: in the web server's
// restart pause) still restarts the streams on the next pass.
TEST_F(MainMiscTest, IdChangeDuringAPassIsSeenNext)
{
    std::string out = Child_Run([] {
        FifoReader reader;
        reader.Open();
        MAIN_Misc_Start();
        bool bFirst = reader.WaitEnd("ss http start!");
        g_stConfigAttr.stMisc.s32Https = 1;
        bool bStop = reader.WaitEnd("ss http stop!");
        g_stConfigAttr.stManual.s32ID = 7;
        bool bStart = reader.WaitEnd("ss http start!");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        MAIN_Misc_Stop();
        printf("<%d %d %d>\n", bFirst, bStop, bStart);
    });
    EXPECT_NE(std::string::npos, out.find("<1 1 1>")) << out;
    EXPECT_NE(std::string::npos, out.find("Main_Misc_Thread: id change")) << out;
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
