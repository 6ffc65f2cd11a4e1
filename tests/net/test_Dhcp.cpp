#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "config/ConfigAttr.h"
#include "core/Main.h"
#include "net/Dhcp.h"
#include "net/NetConfig.h"
#include "tests/net/NetTest.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"

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
    ASSERT_EQ(0, MAIN_Dhcpclient_Start(&stDhcp));
    EXPECT_EQ(1, stDhcp.bStart);
    EXPECT_EQ(1, stDhcp.enDHCP);
    EXPECT_EQ("ss udhcpc start!", Commands());
    EXPECT_NE(0, access(DHCP_LEASE_FILE, F_OK));

    File_Write(DHCP_LEASE_FILE, "ip=169.254.33.44\nsubnet=255.255.0.0\nrouter=169.254.100.1\n");
    ASSERT_TRUE(Dhcp_WaitHostIp("169.254.33.44"));
    EXPECT_STREQ("255.255.0.0", g_stMainServerAttr.stConifg.azNetmask);
    EXPECT_EQ("169.254.33.44/16\n", Net_Sh("ip -4 -o addr show dev eth0 | awk '{print $4}'"));
    EXPECT_NE(std::string::npos, Net_Sh("ip route show default").find("via 169.254.100.1"));

    ASSERT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 0));
    EXPECT_EQ(0, stDhcp.enDHCP);
    EXPECT_EQ("ss udhcpc stop!", Commands());
    File_Write(DHCP_LEASE_FILE, "ip=169.254.55.66\nsubnet=255.255.0.0\n");
    EXPECT_FALSE(Dhcp_WaitHostIp("169.254.55.66"));

    EXPECT_EQ(0, Dhcpclient_Exit(nullptr));
    EXPECT_EQ("ss udhcpc stop!", Commands());
}

// With static settings the client is attached but stays off. A switch
// fails without a client, and without a daemon it fails and the recorded
// state stays.
TEST_F(DhcpTest, StaticSettingsAndFailedSwitches)
{
    DhcpAttr_S stNone;
    memset(&stNone, 0, sizeof(stNone));
    EXPECT_EQ(-1, MAIN_Dhcpclient_Switch(&stNone, 1));

    DhcpAttr_S &stDhcp = g_stMainServerAttr.stConifg.stDhcp;
    g_stConfigAttr.stNetAttr.enDHCP = 0;
    ASSERT_EQ(0, MAIN_Dhcpclient_Start(&stDhcp));
    EXPECT_NE(nullptr, stDhcp.hDhcp);
    EXPECT_EQ(0, stDhcp.enDHCP);
    EXPECT_EQ("", Commands());
    ASSERT_EQ(0, MAIN_Dhcpclient_Switch(&stDhcp, 1));
    EXPECT_EQ("ss udhcpc start!", Commands());
    close(s32Fifo);
    s32Fifo = -1;
    EXPECT_NE(0, MAIN_Dhcpclient_Switch(&stDhcp, 0));
    EXPECT_EQ(1, stDhcp.enDHCP);
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
