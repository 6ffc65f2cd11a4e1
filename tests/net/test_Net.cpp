#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "app/Main.h"
#include "config/ConfigAttr.h"
#include "net/Dhcp.h"
#include "net/Dot1x.h"
#include "net/NetConfig.h"
#include "net/NetIf.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"

// Output of a shell command.
static std::string Net_Sh(const std::string &cmd)
{
    std::string out;
    FILE *fp = popen(cmd.c_str(), "r");
    char az[512];
    size_t n;
    while (fp != nullptr && (n = fread(az, 1, sizeof(az), fp)) > 0)
        out.append(az, n);
    if (fp != nullptr)
        pclose(fp);
    return out;
}

// A fresh eth0 (one end of a veth pair) in the test's own network
// namespace for each test.
struct NetTest : public testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(0, system("ip link add eth0 type veth peer name eth9 && ip link set eth9 up"));
    }
    void TearDown() override { (void)system("ip link del eth0 2>/dev/null"); }
};

static void Net_Fill(NetServerConfig_S *pst, const char *pszIp, const char *pszGw)
{
    memset(pst, 0, sizeof(*pst));
    snprintf(pst->azEthName, sizeof(pst->azEthName), "eth0");
    snprintf(pst->azMac, sizeof(pst->azMac), "02:11:22:aa:bb:0c");
    snprintf(pst->azHostIP, sizeof(pst->azHostIP), "%s", pszIp);
    snprintf(pst->azNetmask, sizeof(pst->azNetmask), "255.255.0.0");
    snprintf(pst->azGateway, sizeof(pst->azGateway), "%s", pszGw);
}

static std::string Net_Addr(void)
{
    return Net_Sh("ip -4 -o addr show dev eth0 | awk '{print $4}'");
}

static std::string Net_Defaults(void)
{
    return Net_Sh("ip route show default");
}

// The whole set-up: MAC, address with its mask, the one default route and
// the multicast route, on an interface that is up; the host name and ID
// follow the MAC.
TEST_F(NetTest, ConfigureSetsMacAddressRoutesAndHostName)
{
    NetServerConfig_S stConfig;
    Net_Fill(&stConfig, "169.254.12.34", "169.254.100.1");
    ASSERT_EQ(0, MAIN_Net_Conifg(&stConfig));
    EXPECT_NE(std::string::npos, Net_Sh("ip link show eth0").find("link/ether 02:11:22:aa:bb:0c"));
    EXPECT_NE(std::string::npos, Net_Sh("ip link show eth0").find(",UP"));
    EXPECT_EQ("169.254.12.34/16\n", Net_Addr());
    EXPECT_EQ("default via 169.254.100.1 dev eth0 \n", Net_Defaults());
    EXPECT_NE(std::string::npos, Net_Sh("ip route").find("224.0.0.0/3 dev eth0"));
    char azId[32] = "unchanged";
    ASSERT_EQ(0, GetHostID("eth0", azId));
    EXPECT_STREQ("021122aabb0c", azId);
    ASSERT_EQ(0, MAIN_Set_Hostname());
    EXPECT_EQ(NET_HOSTNAME_PREFIX "-021122AABB0C\n", Net_Sh("hostname"));
    strcpy(azId, "unchanged");
    EXPECT_EQ(-1, GetHostID("eth2", azId));
    EXPECT_STREQ("unchanged", azId);

    // A new gateway replaces the default route; "0.0.0.0" leaves it.
    ASSERT_EQ(0, NetSetGateWay("eth0", "169.254.100.2"));
    EXPECT_EQ("default via 169.254.100.2 dev eth0 \n", Net_Defaults());
    ASSERT_EQ(0, NetSetGateWay("eth0", "0.0.0.0"));
    EXPECT_EQ("default via 169.254.100.2 dev eth0 \n", Net_Defaults());
}

// Bad texts reach neither the kernel nor a shell; the other steps still run.
TEST_F(NetTest, RefusesBadTextsWithoutSideEffects)
{
    const std::string before = File_Read("/board/calls.log");
    EXPECT_EQ(-1, SetHostMac("eth0", "02:11:22:33:44:55; reboot"));
    EXPECT_EQ(-1, SetHostMac("eth0", "02:11:22:33:44:5"));
    EXPECT_EQ(-1, SetHostMac("eth0", "02-11-22-33-44-55"));
    EXPECT_EQ(-1, SetHostMac("eth0;reboot", "02:11:22:33:44:55"));
    EXPECT_EQ(-1, SetHostMac("eth3", "02:11:22:33:44:55"));
    EXPECT_EQ(-1, NetSetLocalIp("eth0", "169.254.1"));
    EXPECT_EQ(-1, NetSetLocalIp("wlan0", "169.254.1.1"));
    EXPECT_EQ(-1, NetSetLocalNetMask("eth0", "255.255.0.0 up"));
    EXPECT_EQ(-1, NetAddMulticastRoute("eth0 && reboot"));
    EXPECT_EQ(before, File_Read("/board/calls.log"));
    EXPECT_EQ("", Net_Addr());

    NetServerConfig_S stConfig;
    Net_Fill(&stConfig, "169.254.7.8", "169.254.100.1");
    snprintf(stConfig.azMac, sizeof(stConfig.azMac), "zz:11:22:33:44:55");
    EXPECT_EQ(-1, MAIN_Net_Conifg(&stConfig));
    EXPECT_EQ("169.254.7.8/16\n", Net_Addr());
}

// A stored address that the interface refuses gives way to the link-local
// address of the MAC, in the record too, so that the box stays reachable.
TEST_F(NetTest, RefusedStoredAddressFallsBackToLinkLocal)
{
    for (const char *pszIp : {"999.1.1.1", "\"169.254.7.8"}) {
        NetServerConfig_S stConfig;
        Net_Fill(&stConfig, pszIp, "169.254.100.1");
        EXPECT_EQ(-1, MAIN_Net_Conifg(&stConfig)) << pszIp;
        EXPECT_EQ("169.254.13.187/16\n", Net_Addr()) << pszIp;
        EXPECT_EQ("default via 169.254.100.1 dev eth0 \n", Net_Defaults()) << pszIp;
        EXPECT_STREQ("169.254.13.187", stConfig.azHostIP) << pszIp;
        EXPECT_STREQ("255.255.0.0", stConfig.azNetmask) << pszIp;
        (void)system("ip -4 addr flush dev eth0");
    }
}

// The web side writes the record and raises the flag; the thread lowers it
// and applies the addresses, the default route after the address.
TEST_F(NetTest, NetworkThreadAppliesWebChanges)
{
    ASSERT_EQ(0, MAIN_SetNetWork_start(&g_stMainServerAttr.stConifg));
    Net_Fill(&g_stMainServerAttr.stConifg, "169.254.99.98", "169.254.100.1");
    g_WebSetNetwork = 1;
    for (int i = 0; i < 100 && Net_Defaults().empty(); i++)
        usleep(20 * 1000);
    EXPECT_EQ("169.254.99.98/16\n", Net_Addr());
    EXPECT_EQ(0, g_WebSetNetwork);
    EXPECT_EQ("default via 169.254.100.1 dev eth0 \n", Net_Defaults());
    MAIN_SetNetWork_stop();
}

// Reads what reaches the command daemon's FIFO; while it is open the
// program finds a daemon there.
struct DhcpTest : public NetTest {
    int s32Fifo = -1;
    void SetUp() override
    {
        NetTest::SetUp();
        s32Fifo = open(DHCP_CMD_FIFO, O_RDONLY | O_NONBLOCK);
        ASSERT_GE(s32Fifo, 0);
        memset(&g_stMainServerAttr.stConifg, 0, sizeof(g_stMainServerAttr.stConifg));
        g_stConfigAttr.stNetAttr.enDHCP = 1;
        snprintf(g_stMainServerAttr.stConifg.azEthName, 32, "eth0");
    }
    void TearDown() override
    {
        DhcpAttr_S &stDhcp = g_stMainServerAttr.stConifg.stDhcp;
        Dhcpclient_Detach(stDhcp.hDhcp);
        stDhcp.hDhcp = nullptr;
        if (s32Fifo >= 0)
            close(s32Fifo);
        unlink(DHCP_LEASE_FILE);
        NetTest::TearDown();
    }
    std::string Commands() { return Pty_Read(s32Fifo, 4096, 0); }
};

static bool Dhcp_WaitHostIp(const char *pszIp)
{
    for (int i = 0; i < 100; i++) {
        if (strcmp(g_stMainServerAttr.stConifg.azHostIP, pszIp) == 0)
            return true;
        usleep(20 * 1000);
    }
    return false;
}

// Switching on tells the daemon and forgets the old lease; a new lease
// becomes the box's address; switched off, leases are not followed.
TEST_F(DhcpTest, LeaseBecomesTheAddressWhileOn)
{
    DhcpAttr_S &stDhcp = g_stMainServerAttr.stConifg.stDhcp;
    File_Write(DHCP_LEASE_FILE, "ip=10.1.1.1\nsubnet=255.0.0.0\n");   // left from an earlier run
    ASSERT_EQ(0, MAIN_Dhcpclient_Start(&g_stMainServerAttr.stConifg));
    EXPECT_EQ(1, stDhcp.bStart);
    EXPECT_EQ(1, stDhcp.enDHCP);
    EXPECT_EQ("ss udhcpc start!", Commands());
    EXPECT_NE(0, access(DHCP_LEASE_FILE, F_OK));

    File_Write(DHCP_LEASE_FILE, "ip=169.254.33.44\nsubnet=255.255.0.0\nrouter=169.254.100.1\n");
    ASSERT_TRUE(Dhcp_WaitHostIp("169.254.33.44"));
    EXPECT_STREQ("255.255.0.0", g_stMainServerAttr.stConifg.azNetmask);
    EXPECT_EQ("169.254.33.44/16\n", Net_Addr());
    EXPECT_NE(std::string::npos, Net_Defaults().find("via 169.254.100.1"));

    ASSERT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 0));
    EXPECT_EQ(0, stDhcp.enDHCP);
    EXPECT_EQ("ss udhcpc stop!", Commands());
    File_Write(DHCP_LEASE_FILE, "ip=169.254.55.66\nsubnet=255.255.0.0\n");
    EXPECT_FALSE(Dhcp_WaitHostIp("169.254.55.66"));

    EXPECT_EQ(0, Dhcpclient_Exit(nullptr));
    EXPECT_EQ("ss udhcpc stop!", Commands());
}

// Switching off while no client runs is done already, without a word to
// the daemon; with static settings the client is attached but stays off;
// without a daemon a switch fails and the recorded state stays.
TEST_F(DhcpTest, StaticSettingsAndFailedSwitches)
{
    DhcpAttr_S &stDhcp = g_stMainServerAttr.stConifg.stDhcp;
    EXPECT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 0));
    EXPECT_EQ(nullptr, stDhcp.hDhcp);

    g_stConfigAttr.stNetAttr.enDHCP = 0;
    ASSERT_EQ(0, MAIN_Dhcpclient_Start(&g_stMainServerAttr.stConifg));
    EXPECT_NE(nullptr, stDhcp.hDhcp);
    EXPECT_EQ(0, stDhcp.enDHCP);
    EXPECT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 0));
    EXPECT_EQ("", Commands());
    ASSERT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 1));
    EXPECT_EQ("ss udhcpc start!", Commands());
    close(s32Fifo);
    s32Fifo = -1;
    EXPECT_NE(0, MAIN_Dhcpclient_Switch(&stDhcp, 0));
    EXPECT_EQ(1, stDhcp.enDHCP);
}

// Switching on needs a client: a block without one is refused until the
// client is attached to it.
TEST_F(DhcpTest, SwitchOnNeedsTheClientAttached)
{
    DhcpAttr_S &stDhcp = g_stMainServerAttr.stConifg.stDhcp;
    EXPECT_EQ(-1, MAIN_Dhcpclient_Switch(&stDhcp, 1));
    EXPECT_EQ("", Commands());
    ASSERT_EQ(0, MAIN_Dhcpclient_Attach(&g_stMainServerAttr.stConifg));
    EXPECT_EQ(1, stDhcp.bStart);
    ASSERT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 1));
    EXPECT_EQ(1, stDhcp.enDHCP);
    EXPECT_EQ("ss udhcpc start!", Commands());
}

// An address the interface refuses leaves the old one on the interface and
// in the record; a good one replaces it.
TEST_F(NetTest, ChangeAddressPutsTheOldOneBack)
{
    NetServerConfig_S &stNet = g_stMainServerAttr.stConifg;
    memset(&stNet, 0, sizeof(stNet));
    snprintf(stNet.azEthName, 32, "eth0");
    ASSERT_EQ(0, NetChangeAddress(&stNet, "169.254.7.8", "255.255.0.0", "169.254.100.1"));
    EXPECT_EQ("169.254.7.8/16\n", Net_Addr());

    EXPECT_EQ(-1, NetChangeAddress(&stNet, "10.9.9.9", "255.0.0.0", "192.168.1.1"));
    EXPECT_EQ("169.254.7.8/16\n", Net_Addr());
    EXPECT_STREQ("169.254.7.8", stNet.azHostIP);
    EXPECT_STREQ("255.255.0.0", stNet.azNetmask);
    EXPECT_STREQ("169.254.100.1", stNet.azGateway);
    EXPECT_EQ("default via 169.254.100.1 dev eth0 \n", Net_Defaults());

    ASSERT_EQ(0, NetChangeAddress(&stNet, "10.9.9.9", "255.0.0.0", "10.0.0.1"));
    EXPECT_EQ("10.9.9.9/8\n", Net_Addr());
    EXPECT_STREQ("10.0.0.1", stNet.azGateway);
}

TEST(DhcpLease, ParsesOnlyWholeAddresses)
{
    DhcpLease_S stLease;
    ASSERT_EQ(0, Dhcpclient_ParseLease("x=1\nsubnet=255.255.255.0\nip=192.168.1.20", &stLease));
    EXPECT_STREQ("192.168.1.20", stLease.azIp);
    EXPECT_STREQ("255.255.255.0", stLease.azNetmask);
    EXPECT_STREQ("0.0.0.0", stLease.azGateway);

    memset(&stLease, 0x5a, sizeof(stLease));
    DhcpLease_S stBefore = stLease;
    EXPECT_EQ(-1, Dhcpclient_ParseLease("ip=192.168.1.20\n", &stLease));
    EXPECT_EQ(-1, Dhcpclient_ParseLease("ip=192.168.1.20 x\nsubnet=255.0.0.0\n", &stLease));
    EXPECT_EQ(-1, Dhcpclient_ParseLease("ip=1.2.3.4\nsubnet=255.0.0.0\nrouter=;reboot\n", &stLease));
    EXPECT_EQ(-1, Dhcpclient_ParseLease(("ip=" + std::string(40, '1') + "\nsubnet=255.0.0.0\n").c_str(),
                                        &stLease));
    EXPECT_EQ(0, memcmp(&stBefore, &stLease, sizeof(stLease)));
}

// What the recording stand-ins ran since the test began.
struct Dot1xTest : public testing::Test {
    size_t offset = File_Read("/board/calls.log").size();
    std::string Calls() { return File_Calls("/board/calls.log", offset); }
};

TEST_F(Dot1xTest, StartWritesConfigAndRunsSupplicant)
{
    ASSERT_EQ(0, MAIN_8021xClient_Start("alice", "p a$s'w`rd"));
    const std::string conf = File_Read(DOT1X_CONF);
    EXPECT_NE(std::string::npos, conf.find("\tidentity=\"alice\"\n"));
    EXPECT_NE(std::string::npos, conf.find("\tpassword=\"p a$s'w`rd\"\n"));
    EXPECT_NE(std::string::npos, conf.find("eap=MD5"));
    EXPECT_EQ(0, access("/var/run/wpa_supplicant", F_OK));
    EXPECT_EQ("wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;", Calls());

    File_Write("/tmp/wpa_supplicant.log", "log");
    EXPECT_EQ(0, MAIN_8021xClient_Stop());
    EXPECT_EQ("wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;"
              "wpa_cli -i eth0 logoff;wpa_cli -i eth0 terminate;",
              Calls());
    EXPECT_NE(0, access("/tmp/wpa_supplicant.log", F_OK));
}

// Texts that could end the quotes or start a line are refused, and so are
// texts of 64 characters; 63 pass.
TEST_F(Dot1xTest, RefusesUnsafeCredentials)
{
    for (const std::string &bad : {std::string("a\"b"), std::string("a\nb"), std::string("a\rb"),
                                   std::string("a\tb"), std::string("a\x7f"), std::string(64, 'u')}) {
        unlink(DOT1X_CONF);
        EXPECT_EQ(DOT1X_REFUSED, MAIN_8021xClient_Start(bad.c_str(), "pw")) << bad;
        EXPECT_EQ(DOT1X_REFUSED, MAIN_8021xClient_Start("user", bad.c_str())) << bad;
        EXPECT_NE(0, access(DOT1X_CONF, F_OK));
    }
    EXPECT_EQ("", Calls());
    EXPECT_EQ(0, MAIN_8021xClient_Start(std::string(63, 'u').c_str(), ""));
}

// The supplicant takes a double-quoted text as it stands, without escapes:
// a backslash, even the last one before the closing quote, is written as is.
TEST_F(Dot1xTest, BackslashIsWrittenAsItStands)
{
    ASSERT_EQ(0, MAIN_8021xClient_Start("dom\\alice", "pa\\ss\\"));
    const std::string conf = File_Read(DOT1X_CONF);
    EXPECT_NE(std::string::npos, conf.find("\tidentity=\"dom\\alice\"\n")) << conf;
    EXPECT_NE(std::string::npos, conf.find("\tpassword=\"pa\\ss\\\"\n")) << conf;
    EXPECT_EQ("wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;", Calls());
}
