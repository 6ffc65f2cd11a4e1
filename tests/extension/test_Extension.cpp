#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/Main.h"
#include "config/ConfigAttr.h"
#include "core/Clock.h"
#include "extension/Ir.h"
#include "extension/Rs232.h"
#include "extension/Soip.h"
#include "extension/Uart.h"
#include "extension/Usb.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"
#include "tests/support/Sock.h"
#include "upgrade/Flash.h"
#include "upgrade/Identity.h"

// Speeds outside the table, bad line settings and closed or missing ports
// are refused, with a port there to open.
TEST(UartTest, RefusesBadAttributesAndClosedPorts)
{
    int s32Master = Pty_Attach("/dev/ttyS3");
    ASSERT_GE(s32Master, 0);
    UartAttr_S stUart{-1, 3, {15, 8, 0, 0}};
    EXPECT_EQ(0u, MAIN_Uart_Baud(15));
    EXPECT_EQ(-1, MAIN_Uart_BaudIndex(14400));
    EXPECT_EQ(-1, MAIN_Uart_Init(&stUart));
    EXPECT_EQ(-1, stUart.s32Fd);
    stUart.stSetAttr = {10, 4, 0, 0};
    EXPECT_EQ(-1, MAIN_Uart_Init(&stUart));
    EXPECT_EQ(-1, MAIN_Uart_SendData(&stUart, "x", 1));
    stUart.stSetAttr = {10, 8, 0, 0};
    ASSERT_EQ(0, MAIN_Uart_Init(&stUart));
    MAIN_Uart_Close(&stUart);
    stUart.u32Port = 9;                 // no such device
    EXPECT_EQ(-1, MAIN_Uart_Init(&stUart));
    close(s32Master);
}

struct TurnSender_S {
    MainThread_S stThread;
    std::string data;
    std::atomic<long> lTid{0};
    std::atomic<s32> s32Ret{1};
};
static UartAttr_S s_stTurnUart{-1, 3, {10, 8, 0, 0}};

static void *Turn_Send(void *pvArg)
{
    TurnSender_S *pst = (TurnSender_S *)pvArg;
    pst->lTid = syscall(SYS_gettid);
    pst->s32Ret = MAIN_Uart_SendAll(&s_stTurnUart, pst->data.data(), (u32)pst->data.size(), &pst->stThread);
    return nullptr;
}

// How often the thread went to sleep so far, -1 when unknown.
static long Turn_Sleeps(long lTid)
{
    std::string status = File_Read("/proc/self/task/" + std::to_string(lTid) + "/status");
    size_t at = status.find("\nvoluntary_ctxt_switches:");
    return at == std::string::npos ? -1 : atol(status.c_str() + at + 25);
}

// A sender waiting for its port's turn, which another holds for good (the
// port takes nothing), sleeps until its stop wakes it: it does not wake up
// now and then to look for the stop.
TEST(UartTest, StopWakesASenderWaitingForItsTurn)
{
    static TurnSender_S s_stHolder, s_stWaiter;
    int s32Master = Pty_Attach("/dev/ttyS3");
    ASSERT_GE(s32Master, 0);
    ASSERT_EQ(0, MAIN_Uart_Init(&s_stTurnUart));
    s_stHolder.data.assign(1 << 20, 'h');
    s_stWaiter.data = "w";
    s_stWaiter.stThread.pfnWake = MAIN_Uart_WakeSenders;
    ASSERT_EQ(0, MAIN_Thread_Start(&s_stHolder.stThread, Turn_Send, &s_stHolder, nullptr));
    struct pollfd stPoll = {s32Master, POLLIN, 0};
    EXPECT_EQ(1, poll(&stPoll, 1, 5000));   // the holder has the turn
    ASSERT_EQ(0, MAIN_Thread_Start(&s_stWaiter.stThread, Turn_Send, &s_stWaiter, nullptr));
    long lBefore = -1;
    for (u32 i = 0; i < 1000 && lBefore < 1; i++) {   // until it has slept once, however loaded the machine
        usleep(10 * 1000);
        lBefore = s_stWaiter.lTid != 0 ? Turn_Sleeps(s_stWaiter.lTid) : -1;
    }
    EXPECT_GE(lBefore, 1);
    usleep(1000 * 1000);
    EXPECT_LT(Turn_Sleeps(s_stWaiter.lTid) - lBefore, 3);
    MAIN_Thread_Stop(&s_stWaiter.stThread);
    EXPECT_EQ(-1, s_stWaiter.s32Ret);
    MAIN_Thread_Stop(&s_stHolder.stThread);
    MAIN_Uart_Close(&s_stTurnUart);
    close(s32Master);
}

static UartAttr_S s_stOtherUart{-1, 4, {10, 8, 0, 0}};
static std::atomic<int> s_s32SlowClose{-1};   // the descriptor whose close is watched
static std::atomic<bool> s_bOtherWrote{false};

// The watched close lets a writer of the other port try first, for up to
// 5 s, as a close that waits for the port's output would.
extern "C" int close(int s32Fd)
{
    static int (*s_pfnClose)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int s32Watched = s32Fd;
    if (s32Fd >= 0 && s_s32SlowClose.compare_exchange_strong(s32Watched, -1)) {
        std::thread([] { s_bOtherWrote = MAIN_Uart_Write(&s_stOtherUart, "x", 1) == 1; }).detach();
        for (int i = 0; i < 500 && !s_bOtherWrote; i++)
            usleep(10 * 1000);
    }
    return s_pfnClose(s32Fd);
}

// A port's close, which on the board waits for its output to drain, holds
// up no writer of the other port.
TEST(UartTest, CloseHoldsUpNoOtherWriter)
{
    int s32Master = Pty_Attach("/dev/ttyS3"), s32Other = Pty_Attach("/dev/ttyS4");
    ASSERT_GE(s32Master, 0);
    ASSERT_GE(s32Other, 0);
    ASSERT_EQ(0, MAIN_Uart_Init(&s_stTurnUart));
    ASSERT_EQ(0, MAIN_Uart_Init(&s_stOtherUart));
    s_s32SlowClose = s_stTurnUart.s32Fd;
    MAIN_Uart_Close(&s_stTurnUart);
    EXPECT_TRUE(s_bOtherWrote);
    EXPECT_EQ("x", Pty_Read(s32Other, 1, 5000));   // the writer is done: its port may close
    MAIN_Uart_Close(&s_stOtherUart);
    close(s32Master);
    close(s32Other);
}

// One option the system refuses leaves every other one set: an option no
// system knows stands in for each of the table's in turn.
TEST(SoipOpts, ARefusedOptionLeavesTheOthersSet)
{
    static SoipServerAttr_S s_stServer;
    Soip_Init(&s_stServer, "opts", 0);
    testing::internal::CaptureStdout();
    for (u32 u32Bad = 0; u32Bad < g_u32SoipClientOpts; u32Bad++) {
        std::vector<SoipSockOpt_S> opts(g_astSoipClientOpts, g_astSoipClientOpts + g_u32SoipClientOpts);
        opts[u32Bad].s32Name = -1;
        int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(1u, Soip_SetOpts(&s_stServer, s32Fd, opts.data(), g_u32SoipClientOpts)) << u32Bad;
        for (u32 i = 0; i < g_u32SoipClientOpts; i++) {
            const SoipSockOpt_S &st = g_astSoipClientOpts[i];
            int s32Value = -1;
            socklen_t len = sizeof(s32Value);
            (void)getsockopt(s32Fd, st.s32Level, st.s32Name, &s32Value, &len);   // -1 kept when it fails
            EXPECT_TRUE(i == u32Bad || s32Value == st.s32Value) << i << ", " << u32Bad << " refused";
        }
        close(s32Fd);
    }
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("opts: setsockopt -1: "));
}

// The UART takes the stored serial settings; what the port cannot do
// becomes 115200 8N1 piece by piece.
TEST(HalDefaults, UartFollowsTheSettings)
{
    const struct { ConfigSerialAttr_S stSerial; u32 au32Want[4]; } astCase[] = {
        { {9600, 7, 2, 2}, {9600, 7, 2, 2} },
        { {14400, 9, 3, 1}, {115200, 8, 0, 0} },
    };
    for (const auto &st : astCase) {
        HalAttr_S stHal;
        g_stConfigAttr.stSerialAttr = st.stSerial;
        ASSERT_EQ(0, MAIN_Hal_DefConifg(&stHal));
        const UartSetAttr_S &stSet = stHal.stUart.stSetAttr;
        const u32 au32Got[4] = {MAIN_Uart_Baud(stSet.u32BaudIdx), stSet.u32Databits, stSet.u32Parity, stSet.u32StopBits};
        EXPECT_EQ(std::vector<u32>(st.au32Want, st.au32Want + 4), std::vector<u32>(au32Got, au32Got + 4));
    }
}

TEST(ParseMac, TakesSeventeenCharactersAfterBlanksAndStoresThem)
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

    // Stored in lower case with ':' whatever the separators were.
    ASSERT_EQ(0, Flash_Init());
    char azSet[] = "0A-1B,2C:3D-4E:5F";
    ASSERT_EQ(0, MAIN_RS232_Set_MAC(azSet));
    EXPECT_STREQ("0a:1b:2c:3d:4e:5f", azSet);
    EXPECT_EQ("0a:1b:2c:3d:4e:5f\n", File_Read(IDENTITY_MAC_FILE));
}

// A client once the relay took it, on its next pass.
static int Relay_Connect(u16 u16Port)
{
    int s32Fd = Sock_Connect(u16Port);
    usleep(150 * 1000);
    return s32Fd;
}

static void Relay_Write(int s32Fd, const std::string &s)
{
    ASSERT_EQ((ssize_t)s.size(), write(s32Fd, s.data(), s.size()));
}

// A client whose receive buffer is small from the start, so that what it
// does not read soon holds the relay back; once the relay took it.
static int Relay_ConnectSlow(u16 u16Port)
{
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    int s32Buf = 16384;
    struct sockaddr_in stAddr = {};
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s32Fd < 0 || setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32Buf, sizeof(s32Buf)) < 0
        || connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    usleep(150 * 1000);
    return s32Fd;
}

// Writes s into a non-blocking descriptor (a pty master) as it takes it;
// returns the bytes written, fewer when it took none for s32WaitMs.
static size_t Relay_Push(int s32Fd, const std::string &s, int s32WaitMs)
{
    size_t u32Done = 0;
    struct pollfd stPoll = {s32Fd, POLLOUT, 0};
    while (u32Done < s.size()) {
        ssize_t n = write(s32Fd, s.data() + u32Done, s.size() - u32Done);
        if (n > 0)
            u32Done += (size_t)n;
        else if ((n < 0 && errno != EAGAIN) || poll(&stPoll, 1, s32WaitMs) <= 0)
            break;
    }
    return u32Done;
}

static std::string s_strUartSeen;   // what the data callback got
static void Relay_OnUart(const u8 *pu8, u32 u32Len)
{
    s_strUartSeen.append((const char *)pu8, u32Len);
}

// A relay whose guest server never started has the UART to itself (the
// program's start-up goes on when that server fails). Runs before the
// relays of the fixture below start, the guest server with them.
TEST(UartRelayAlone, ServesWithoutAGuestServer)
{
    int s32Tty = Pty_Attach("/dev/ttyS0");
    ASSERT_GE(s32Tty, 0);
    UartAttr_S stUart{-1, 0, {10, 8, 0, 0}};
    ASSERT_EQ(0, MAIN_Uart_Init(&stUart));
    ASSERT_EQ(0, MAIN_UartTcpServer_Start(&stUart, nullptr, nullptr));
    int s32Fd = Relay_Connect(SOIP_UART_PORT);
    Relay_Write(s32Fd, "alone");
    EXPECT_EQ("alone", Pty_Read(s32Tty, 5, 1000));
    Relay_Write(s32Tty, "back");
    EXPECT_EQ("back", Pty_Read(s32Fd, 4, 1000));
    MAIN_SoipServers_Stop();
    MAIN_Uart_Close(&stUart);
    close(s32Fd);
    close(s32Tty);
}

// Both UARTs on ptys, the gadgets on the box's plain files, every relay up
// once for the whole program (their ports stay bound).
struct RelayTest : public testing::Test {
    static int s32Tty0, s32Tty1;
    static void SetUpTestSuite()
    {
        s32Tty0 = Pty_Attach("/dev/ttyS0");
        s32Tty1 = Pty_Attach("/dev/ttyS1");
        HalAttr_S &stHal = g_stMainServerAttr.stHalAttr;
        stHal.stUart = {-1, 0, {10, 8, 0, 0}};
        stHal.stUart2 = {-1, 1, {9, 8, 0, 0}};
        ASSERT_EQ(0, MAIN_Uart_Init(&stHal.stUart));
        ASSERT_EQ(0, MAIN_Uart_Init(&stHal.stUart2));
        ASSERT_EQ(0, MAIN_Usb_Init(&stHal.stUsb));
        ASSERT_EQ(0, MAIN_UartTcpServer_Start(&stHal.stUart, Relay_OnUart, MAIN_Uart_Restart));
        ASSERT_EQ(0, MAIN_UartGuestTcpServer_Start(&stHal.stUart));
        ASSERT_EQ(0, MAIN_IrSend_Start(&stHal.stUart2));
        ASSERT_EQ(0, MAIN_IrTcpServer_Start(&stHal.stUart2));
        ASSERT_EQ(0, MAIN_KvmTcpServer_Start(&stHal.stUsb.s32KeyboardFd, &stHal.stUsb.s32MouseFd));
    }
    static void TearDownTestSuite()
    {
        MAIN_SoipServers_Stop();
        MAIN_IrSend_Stop();
    }
    std::vector<int> clients;
    int Client(u16 u16Port)
    {
        int s32Fd = Relay_Connect(u16Port);
        clients.push_back(s32Fd);
        return s32Fd;
    }
    void TearDown() override
    {
        for (int s32Fd : clients)
            close(s32Fd);
        usleep(150 * 1000);
        Pty_Read(s32Tty0, 1 << 20, 50);
        Pty_Read(s32Tty1, 1 << 20, 50);
    }
};
int RelayTest::s32Tty0 = -1;
int RelayTest::s32Tty1 = -1;

// Bytes move both ways, those from the UART also to the data callback. A
// client that vanishes (reset, no goodbye) leaves the relay serving the
// next one; a second client replaces the first.
TEST_F(RelayTest, UartRelaySurvivesVanishedAndReplacedClients)
{
    int s32Gone = Relay_Connect(SOIP_UART_PORT);
    struct linger stLinger = {1, 0};
    setsockopt(s32Gone, SOL_SOCKET, SO_LINGER, &stLinger, sizeof(stLinger));
    close(s32Gone);
    Relay_Write(s32Tty0, std::string(3000, 'x'));   // sent into the dead socket
    usleep(200 * 1000);

    int s32First = Client(SOIP_UART_PORT);
    int s32Second = Client(SOIP_UART_PORT);
    EXPECT_EQ("", Pty_Read(s32First, 1, 500));     // closed by the relay
    s_strUartSeen.clear();
    const std::string up("AT\r\n\x00\xff", 6), down("OK\r\n\x01", 5);
    Relay_Write(s32Tty0, down);
    EXPECT_EQ(down, Pty_Read(s32Second, down.size(), 1000));
    EXPECT_EQ(down, s_strUartSeen);
    Relay_Write(s32Second, up);
    EXPECT_EQ(up, Pty_Read(s32Tty0, up.size(), 1000));
}

// A client that shuts its sending side after a command still gets the
// UART's answer, until a new client takes the relay over.
TEST_F(RelayTest, HalfClosedClientGetsTheAnswer)
{
    int s32Fd = Client(SOIP_UART_PORT);
    Relay_Write(s32Fd, "AT\r\n");
    ASSERT_EQ(0, shutdown(s32Fd, SHUT_WR));
    EXPECT_EQ("AT\r\n", Pty_Read(s32Tty0, 4, 1000));
    usleep(150 * 1000);
    Relay_Write(s32Tty0, "OK\r\n");
    EXPECT_EQ("OK\r\n", Pty_Read(s32Fd, 4, 1000));
    Relay_Write(s32Tty0, "later");
    EXPECT_EQ("later", Pty_Read(s32Fd, 5, 1000));

    int s32Next = Client(SOIP_UART_PORT);
    EXPECT_EQ("", Pty_Read(s32Fd, 1, 500));   // closed by the relay
    Relay_Write(s32Tty0, "next");
    EXPECT_EQ("next", Pty_Read(s32Next, 4, 1000));
}

static double CpuSeconds(void)
{
    struct rusage st;
    getrusage(RUSAGE_SELF, &st);
    return st.ru_utime.tv_sec + st.ru_stime.tv_sec + (st.ru_utime.tv_usec + st.ru_stime.tv_usec) / 1e6;
}

// With no descriptor left, a waiting client cannot be accepted: the relay
// waits for descriptors instead of spinning on it, and takes the client
// once there are some again.
TEST_F(RelayTest, AcceptWaitsWhileDescriptorsRunOut)
{
    struct rlimit stOld;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &stOld));
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(s32Fd, 0);
    clients.push_back(s32Fd);
    struct rlimit stLow = {256, stOld.rlim_max};
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stLow));
    std::vector<int> fill;
    for (int s32Null; (s32Null = open("/dev/null", O_RDONLY)) >= 0;)
        fill.push_back(s32Null);
    struct sockaddr_in stAddr = {};
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(SOIP_UART_PORT);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)));   // queued by the kernel

    double dBefore = CpuSeconds();
    usleep(1000 * 1000);
    double dCpu = CpuSeconds() - dBefore;
    for (int s32Null : fill)
        close(s32Null);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stOld));
    EXPECT_LT(dCpu, 0.2);

    usleep((SOIP_ACCEPT_PAUSE_MS + 2 * SOIP_PASS_MS) * 1000);
    Relay_Write(s32Tty0, "taken");
    EXPECT_EQ("taken", Pty_Read(s32Fd, 5, 1000));
}

// While a guest is connected the UART is its alone: the relay's client
// waits; afterwards the relay has it again and its client's bytes go out.
// A guest that closed is noticed at once: what the UART sends from then on
// reaches the relay's client whole.
TEST_F(RelayTest, GuestTakesTheUartOver)
{
    int s32Relay = Client(SOIP_UART_PORT);
    int s32Guest = Relay_Connect(SOIP_GUEST_PORT);
    ASSERT_GE(s32Guest, 0);
    Relay_Write(s32Tty0, "for guest");
    EXPECT_EQ("for guest", Pty_Read(s32Guest, 9, 1000));
    Relay_Write(s32Relay, "held");
    Relay_Write(s32Guest, "mine");
    EXPECT_EQ("mine", Pty_Read(s32Tty0, 8, 500));
    EXPECT_EQ("", Pty_Read(s32Relay, 1, 200));

    close(s32Guest);
    EXPECT_EQ("held", Pty_Read(s32Tty0, 4, 1000));   // waited for the guest to leave
    const std::string data = File_Pattern(65536, 1);
    EXPECT_EQ(data.size(), Relay_Push(s32Tty0, data, 2000));
    std::string got = Pty_Read(s32Relay, data.size(), 1000);
    EXPECT_EQ(data.size(), got.size());
    EXPECT_TRUE(data == got);
}

// 1 MB sent at full speed while the far end of the UART stops reading now
// and then: the relays hold the sender back instead of dropping bytes, the
// infrared one too (its queue fills up).
TEST_F(RelayTest, FloodReachesASlowUartWhole)
{
    const struct { u16 u16Port; int *ps32Tty; int s32PauseMs; } astCase[] = {
        {SOIP_UART_PORT, &s32Tty0, 1500}, {SOIP_GUEST_PORT, &s32Tty0, 1500}, {SOIP_IR_PORT, &s32Tty1, 500}};
    for (const auto &st : astCase) {
        const std::string data = File_Pattern(1 << 20, st.u16Port);
        int s32Fd = Client(st.u16Port);
        std::thread thSend([&] { Relay_Write(s32Fd, data); });
        std::string got;
        for (int i = 0; i < 3; i++) {
            usleep(st.s32PauseMs * 1000);
            got += Pty_Read(*st.ps32Tty, 65536, 100);
        }
        got += Pty_Read(*st.ps32Tty, data.size() - got.size(), 2000);
        thSend.join();
        EXPECT_EQ(data.size(), got.size()) << st.u16Port;
        EXPECT_TRUE(data == got) << st.u16Port;
    }
}

// The infrared sender waiting for room on a full port stops when asked.
TEST_F(RelayTest, InfraredSenderStopsWhileItWaitsForRoom)
{
    const std::string ir = File_Pattern(256 << 10, 23);
    int s32Ir = Client(SOIP_IR_PORT);
    std::thread thSend([&] { Relay_Write(s32Ir, ir); });
    usleep(300 * 1000);
    s64 s64Before = Clock_NowMs();
    MAIN_IrSend_Stop();
    EXPECT_LT(Clock_NowMs() - s64Before, 500);
    ASSERT_EQ(0, MAIN_IrSend_Start(&g_stMainServerAttr.stHalAttr.stUart2));
    while (!Pty_Read(s32Tty1, 1 << 20, 500).empty())
        ;   // the rest of the flood
    thSend.join();
}

// 1 MB written on the UART at full speed to a client that stops reading
// now and then: it gets every byte, in order, as a guest too.
TEST_F(RelayTest, SlowClientGetsEveryByte)
{
    for (u16 u16Port : {SOIP_UART_PORT, SOIP_GUEST_PORT}) {
        int s32Fd = Relay_ConnectSlow(u16Port);
        ASSERT_GE(s32Fd, 0);
        clients.push_back(s32Fd);
        const std::string data = File_Pattern(1 << 20, u16Port + 1);
        size_t u32Pushed = 0;
        std::thread thPush([&] { u32Pushed = Relay_Push(s32Tty0, data, 5000); });
        std::string got;
        for (int i = 0; i < 3; i++) {
            usleep(1500 * 1000);
            got += Pty_Read(s32Fd, 65536, 100);
        }
        got += Pty_Read(s32Fd, data.size() - got.size(), 2000);
        thPush.join();
        EXPECT_EQ(data.size(), u32Pushed) << u16Port;
        EXPECT_EQ(data.size(), got.size()) << u16Port;
        EXPECT_TRUE(data == got) << u16Port;
    }
}

// A client that takes nothing holds the UART back for SOIP_STALL_MS, not
// for good: it is dropped, after the bytes it took, and the UART flows
// again, to the data callback.
TEST_F(RelayTest, StalledClientIsDroppedAndTheUartFlowsAgain)
{
    int s32Fd = Relay_ConnectSlow(SOIP_UART_PORT);
    ASSERT_GE(s32Fd, 0);
    clients.push_back(s32Fd);
    const std::string data = File_Pattern(8 << 20, 7);
    s_strUartSeen.clear();
    size_t u32Pushed = Relay_Push(s32Tty0, data, 2000);
    EXPECT_LT(u32Pushed, data.size());   // held back by the stalled client
    u32Pushed += Relay_Push(s32Tty0, data.substr(u32Pushed), SOIP_STALL_MS);
    EXPECT_EQ(data.size(), u32Pushed);
    std::string got = Pty_Read(s32Fd, data.size(), 1000);   // ends where the relay closed it
    EXPECT_LT(got.size(), data.size());
    EXPECT_TRUE(data.compare(0, got.size(), got) == 0);
    for (int i = 0; i < 50 && s_strUartSeen.size() < data.size(); i++)
        usleep(20 * 1000);
    EXPECT_TRUE(data == s_strUartSeen);
}

// Waits until all the client wrote, and its end if it shut its sending,
// reached the relay's side.
static void Relay_Delivered(int s32Fd)
{
    int s32Left = 1;
    for (int i = 0; i < 500 && s32Left != 0; i++) {
        usleep(10 * 1000);
        ASSERT_EQ(0, ioctl(s32Fd, SIOCOUTQ, &s32Left));
    }
    EXPECT_EQ(0, s32Left);
}

// What the last log line that starts with line counts as dropped, -1 for
// no line.
static long Relay_Dropped(const std::string &out, const std::string &line)
{
    size_t at = out.rfind(line);
    if (at == std::string::npos)
        return -1;
    unsigned u32Dropped = 0;
    (void)sscanf(out.c_str() + at + line.size(), ", %u unread bytes dropped", &u32Dropped);   // none counted: 0
    return u32Dropped;
}

// A client's bytes wait in the relay's socket while the UART takes none;
// then a second client comes. One whose end came is read to that end
// first, every byte reaching the UART before the second's. One still live,
// or ended while the UART takes none of its bytes for SOIP_STALL_MS, is
// replaced: its line counts what it had unread, all the rest reaches the
// UART.
TEST_F(RelayTest, AClientsBytesReachTheUartOrAreCounted)
{
    const struct { bool bEnd; int s32StallMs; const char *pszWhy; } astCase[] = {
        {true, 0, "replaced\n"},
        {false, 0, "replaced"},
        {true, SOIP_STALL_MS + 1000, "replaced after its end, the device taking none of its bytes"},
    };
    const std::string data = File_Pattern(96 << 10, 11);
    for (const auto &st : astCase) {
        usleep(1100 * 1000);   // a client's life is logged whole once the relay logged nothing for a second
        testing::internal::CaptureStdout();
        int s32First = Relay_Connect(SOIP_UART_PORT), s32Buf = 1 << 20;
        ASSERT_EQ(0, setsockopt(s32First, SOL_SOCKET, SO_SNDBUF, &s32Buf, sizeof(s32Buf)));
        Relay_Write(s32First, data);
        EXPECT_EQ(0, st.bEnd ? shutdown(s32First, SHUT_WR) : 0);
        Relay_Delivered(s32First);
        Relay_Write(Client(SOIP_UART_PORT), "second");
        usleep(st.s32StallMs * 1000);
        std::string got = Pty_Read(s32Tty0, data.size() + 6, 5000);
        close(s32First);
        long lDropped = Relay_Dropped(testing::internal::GetCapturedStdout(),
                                      std::string("MAIN_UartTcpServer_Start: client ") + st.pszWhy);
        EXPECT_EQ(st.s32StallMs == 0 && st.bEnd, lDropped == 0) << st.pszWhy << " " << lDropped;
        EXPECT_EQ(data.size() + 6, got.size() + lDropped) << st.pszWhy;
        EXPECT_TRUE(got.size() >= 6 && data.compare(0, got.size() - 6, got, 0, got.size() - 6) == 0
                    && got.substr(got.size() - 6) == "second") << st.pszWhy;
    }
}

// Each client's life is logged whole, however short: a guest that leaves
// without a word, an infrared client replaced at once.
TEST_F(RelayTest, EveryRelayLogsAClientsEnd)
{
    const struct { u16 u16Port; const char *pszLine; } astCase[] = {
        {SOIP_GUEST_PORT, "MAIN_UartGuestTcpServer_Start: client left\n"},
        {SOIP_IR_PORT, "MAIN_IrTcpServer_Start: client replaced\n"},
    };
    for (const auto &st : astCase) {
        usleep(1100 * 1000);
        testing::internal::CaptureStdout();
        int s32Fd = Relay_Connect(st.u16Port);
        if (st.u16Port == SOIP_GUEST_PORT)
            close(s32Fd);
        else
            clients.push_back(s32Fd);
        Client(st.u16Port);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string::npos, out.find(st.pszLine)) << out;
    }
}

// The reopen flag makes the relay open the port again with the new setting.
TEST_F(RelayTest, ReopenFlagAppliesNewSettings)
{
    UartAttr_S &stUart = g_stMainServerAttr.stHalAttr.stUart;
    stUart.stSetAttr.u32BaudIdx = 6;
    g_stUartServer.bReopen = 1;
    struct termios stTio = {};
    for (int i = 0; i < 100; i++) {
        usleep(20 * 1000);
        if (g_stUartServer.bReopen == 0 && stUart.s32Fd >= 0 && tcgetattr(stUart.s32Fd, &stTio) == 0
            && cfgetospeed(&stTio) == B9600)
            break;
    }
    EXPECT_EQ((speed_t)B9600, cfgetospeed(&stTio));
    int s32Fd = Client(SOIP_UART_PORT);
    Relay_Write(s32Fd, "after");
    EXPECT_EQ("after", Pty_Read(s32Tty0, 5, 1000));
}

// Infrared: client bytes and the control protocol's codes go through the
// send queue to the second UART.
TEST_F(RelayTest, InfraredGoesThroughTheSecondUart)
{
    int s32Fd = Client(SOIP_IR_PORT);
    const std::string code(3000, '\x5a');   // more than one queued packet
    Relay_Write(s32Fd, code);
    EXPECT_EQ(code, Pty_Read(s32Tty1, code.size(), 2000));
    const u8 au8Proto[] = {1, 2, 3};
    EXPECT_EQ(0, Main_Protocolserver_onrecvIrData(nullptr, au8Proto, sizeof(au8Proto)));
    EXPECT_EQ("\x01\x02\x03", Pty_Read(s32Tty1, 3, 1000));
}

// KVM: framed reports land in their gadget whole, even when a frame comes
// in pieces; bytes that cannot start a frame are skipped.
TEST_F(RelayTest, KvmReportsReachTheGadgets)
{
    int s32Fd = Client(SOIP_KVM_PORT);
    const std::string key("\x01\x08\x00\x00\x04\x00\x00\x00\x00\x00", 10);
    const std::string mouse("\x02\x04\x01\x05\xfb\x00", 6);
    Relay_Write(s32Fd, std::string("\x07\x01\x00", 3) + key.substr(0, 5));
    usleep(100 * 1000);
    Relay_Write(s32Fd, key.substr(5) + mouse);
    usleep(300 * 1000);
    EXPECT_EQ(key.substr(2), File_Read(USB_KEYBOARD_DEV));
    EXPECT_EQ(mouse.substr(2), File_Read(USB_MOUSE_DEV));
}

// A frame of no gadget or of a length no report has is skipped byte by
// byte (whole frames are seen through the relay).
TEST(UsbFrame, SkipsFramesOfNoReport)
{
    UsbReport_S stReport;
    const u8 au8Bad[][2] = {{0, 1}, {3, 1}, {USB_DEV_MOUSE, 0}, {USB_DEV_MOUSE, USB_REPORT_MAX + 1}};
    for (const auto &au8 : au8Bad) {
        EXPECT_EQ(1u, Usb_ParseFrame(au8, 2, &stReport));
        EXPECT_EQ(0, stReport.u8Dev);
    }
}

// A full infrared queue refuses data whole, without the send thread.
TEST(IrQueue, FullQueueRefusesWholeData)
{
    IrAttr_S stIr = {IR_GPIO};
    MAIN_IrSend_Stop();
    ASSERT_EQ(0, MAIN_Ir_Init(&stIr));
    EXPECT_EQ('1', File_Read("/sys/class/gpio/gpio71/value")[0]);
    std::string packet(IR_PACKET_MAX, 'i');
    for (int i = 0; i < IR_QUEUE_LEN - 1; i++)
        ASSERT_EQ(0, MAIN_Ir_SendData((const u8 *)packet.data(), (u32)packet.size()));
    EXPECT_EQ(-1, MAIN_Ir_SendData((const u8 *)packet.data(), IR_PACKET_MAX + 1));
    EXPECT_EQ(0, MAIN_Ir_SendData((const u8 *)packet.data(), IR_PACKET_MAX));
    EXPECT_EQ(-1, MAIN_Ir_SendData((const u8 *)"x", 1));
    ASSERT_EQ(0, MAIN_Ir_Init(&stIr));
    EXPECT_EQ(0, MAIN_Ir_SendData((const u8 *)"x", 1));
}

// The tasks of this process.
static std::vector<long> Tasks(void)
{
    std::vector<long> tids;
    DIR *pDir = opendir("/proc/self/task");
    for (struct dirent *pEnt; pDir != nullptr && (pEnt = readdir(pDir)) != nullptr;) {
        if (pEnt->d_name[0] != '.')
            tids.push_back(atol(pEnt->d_name));
    }
    if (pDir != nullptr)
        closedir(pDir);
    std::sort(tids.begin(), tids.end());
    return tids;
}

// The infrared sender with nothing to send sleeps until a packet or its
// stop comes: it does not wake up now and then to look.
TEST(IrQueue, IdleSenderSleeps)
{
    IrAttr_S stIr = {IR_GPIO};
    MAIN_IrSend_Stop();
    ASSERT_EQ(0, MAIN_Ir_Init(&stIr));
    std::vector<long> before = Tasks(), added;
    ASSERT_EQ(0, MAIN_IrSend_Start(&g_stMainServerAttr.stHalAttr.stUart2));
    std::vector<long> after = Tasks();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    ASSERT_EQ(1u, added.size());
    long lBefore = -1;
    for (u32 i = 0; i < 1000 && lBefore < 1; i++) {
        usleep(10 * 1000);
        lBefore = Turn_Sleeps(added[0]);
    }
    usleep(1000 * 1000);
    EXPECT_LT(Turn_Sleeps(added[0]) - lBefore, 3);
    MAIN_IrSend_Stop();
}

// What relay clients cause at will (a full infrared queue, a closed UART
// or gadget), in a flood, logs a few lines only.
TEST(IrQueue, FloodOfRefusalsLogsAFewLines)
{
    IrAttr_S stIr = {IR_GPIO};
    MAIN_IrSend_Stop();
    ASSERT_EQ(0, MAIN_Ir_Init(&stIr));
    std::string packet(IR_PACKET_MAX, 'i');
    for (int i = 0; i < IR_QUEUE_LEN; i++)
        ASSERT_EQ(0, MAIN_Ir_SendData((const u8 *)packet.data(), (u32)packet.size()));
    UartAttr_S stUart{-1, 3, {10, 8, 0, 0}};
    testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; i++) {
        EXPECT_EQ(-1, MAIN_Ir_SendData((const u8 *)packet.data(), (u32)packet.size()));
        EXPECT_EQ(-1, MAIN_Uart_SendData(&stUart, "x", 1));
        EXPECT_EQ(-1, Usb_WriteReport(-1, (const u8 *)"x", 1));
    }
    std::string out = testing::internal::GetCapturedStdout();
    // One line per cause, and a count of earlier drops where a test before
    // caused the same within the second.
    EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 6) << out;
    EXPECT_NE(std::string::npos, out.find("Usb_WriteReport: gadget not open\n")) << out;
    ASSERT_EQ(0, MAIN_Ir_Init(&stIr));
}
