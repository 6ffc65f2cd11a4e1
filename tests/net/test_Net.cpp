#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "config/ConfigAttr.h"
#include "core/Main.h"
#include "net/NetConfig.h"
#include "net/NetIf.h"
#include "tests/net/NetTest.h"
#include "tests/support/Files.h"
#include "upgrade/Identity.h"

std::string Net_Sh(const std::string &cmd)
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

void NetTest::SetUp()
{
    ASSERT_EQ(0, system("ip link add eth0 type veth peer name eth9 && ip link set eth9 up"));
}

void NetTest::TearDown()
{
    (void)system("ip link del eth0 2>/dev/null");
}

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

// The web side writes the record and raises the flag; the thread lowers it
// and applies the addresses, the default route after the address.
TEST_F(NetTest, NetworkThreadAppliesWebChanges)
{
    ASSERT_EQ(0, MAIN_SetNetWork_start());
    Net_Fill(&g_stMainServerAttr.stConifg, "169.254.99.98", "169.254.100.1");
    g_WebSetNetwork = 1;
    for (int i = 0; i < 100 && Net_Defaults().empty(); i++)
        usleep(20 * 1000);
    EXPECT_EQ("169.254.99.98/16\n", Net_Addr());
    EXPECT_EQ(0, g_WebSetNetwork);
    EXPECT_EQ("default via 169.254.100.1 dev eth0 \n", Net_Defaults());
    MAIN_SetNetWork_stop();
}

// The network record's defaults come from the settings and the identity.
TEST_F(NetTest, DefaultsComeFromSettingsAndIdentity)
{
    File_Write(IDENTITY_MAC_FILE, "02:0a:0b:0c:0d:0e\n");
    ConfigNetAttr_S &stNet = g_stConfigAttr.stNetAttr;
    snprintf(stNet.azIp, sizeof(stNet.azIp), "169.254.15.12");
    snprintf(stNet.azNetmask, sizeof(stNet.azNetmask), "255.255.0.0");
    snprintf(stNet.azGateway, sizeof(stNet.azGateway), "169.254.100.1");
    stNet.u32HttpPort = 8080;
    stNet.enDHCP = 1;
    NetServerConfig_S stConfig;
    memset(&stConfig, 0x5a, sizeof(stConfig));
    ASSERT_EQ(0, MAIN_Netserver_DefConifg(&stConfig));
    EXPECT_STREQ("02:0a:0b:0c:0d:0e", stConfig.azMac);
    EXPECT_STREQ("169.254.15.12", stConfig.azHostIP);
    EXPECT_STREQ("255.255.0.0", stConfig.azNetmask);
    EXPECT_STREQ("169.254.100.1", stConfig.azGateway);
    EXPECT_EQ(8080u, stConfig.stWeb.u32Port);
    EXPECT_EQ(nullptr, stConfig.stDhcp.hDhcp);   // no client until it is started
    EXPECT_EQ(0, stConfig.stDhcp.enDHCP);
}
