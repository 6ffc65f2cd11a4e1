#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/HdmiRxPriv.h"
#include "media/HdmiRxMipi.h"
#include "platform/host/HostHdmiRx.h"

// Header ECC from the parity equations of the DSI standard, bit by bit.
static u8 ParityEcc(u32 u32Bits)
{
    static const std::vector<std::vector<u32>> aaParity = {
        {0, 1, 2, 4, 5, 7, 10, 11, 13, 16, 20, 21, 22, 23}, {0, 1, 3, 4, 6, 8, 10, 12, 14, 17, 20, 21, 22, 23},
        {0, 2, 3, 5, 6, 9, 11, 12, 15, 18, 20, 21, 22},     {1, 2, 3, 7, 8, 9, 13, 14, 15, 19, 20, 21, 23},
        {4, 5, 6, 7, 8, 9, 16, 17, 18, 19, 20, 22, 23},     {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23},
    };
    u8 u8Ecc = 0;
    for (size_t p = 0; p < aaParity.size(); p++) {
        u32 u32Bit = 0;
        for (u32 d : aaParity[p])
            u32Bit ^= (u32Bits >> d) & 1;
        u8Ecc |= (u8)(u32Bit << p);
    }
    return u8Ecc;
}

struct HdmiRxMipiTest : public testing::Test {
    HostHdmiRx_S *pstChip = nullptr;
    HdmiRxAttr_S *pstRx = nullptr;
    void SetUp() override
    {
        pstChip = HostHdmiRx_Get();
        HostHdmiRx_Reset();
        testing::internal::CaptureStdout();
        pstRx = hdmirx_init();
        (void)testing::internal::GetCapturedStdout();
    }
    std::vector<u8> Packet(u32 u32Index)
    {
        const HostRxLpPacket_S &st = pstChip->astLp[u32Index % HOSTRX_LP_PACKETS];
        return std::vector<u8>(st.au8Data, st.au8Data + st.u32Len);
    }
};

// ECC of random headers; CRC-16 of the standard check string.
TEST(MipiLpTest, EccAndCrc)
{
    u32 u32Seed = 12345;
    for (u32 i = 0; i < 2000; i++) {
        u32Seed = u32Seed * 1103515245 + 12345;
        u32 u32Bits = u32Seed >> 8;
        const u8 au8Header[3] = {(u8)u32Bits, (u8)(u32Bits >> 8), (u8)(u32Bits >> 16)};
        ASSERT_EQ(ParityEcc(u32Bits), mipi_tx_ecc(au8Header)) << std::hex << u32Bits;
    }
    const u8 au8Check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0x6F91, mipi_tx_crc16(au8Check, sizeof(au8Check)));
    EXPECT_EQ(0xFFFF, mipi_tx_crc16(au8Check, 0));
}

// The set-up sends display on and get display mode as short packets, its
// output off; a table's long packets carry payload and CRC, and commands
// too long for the FIFO or past the table are refused.
TEST_F(HdmiRxMipiTest, LowPowerPackets)
{
    ASSERT_EQ(2u, pstChip->u32LpPackets);
    EXPECT_EQ((std::vector<u8>{0x05, 0x29, 0x00, 0x1C}), Packet(0));
    EXPECT_EQ((std::vector<u8>{0x06, 0x0D, 0x00, 0x1A}), Packet(1));
    EXPECT_EQ(0x36, pstChip->au8Mipi[0x05]);
    testing::internal::CaptureStdout();
    mipi_tx_write_lp_cmds(pstRx, 0, 8);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(2u + 5, pstChip->u32LpPackets);                         // rows 0, 1, 3, 4, 5
    std::vector<u8> pkt = Packet(2);
    ASSERT_EQ(11u, pkt.size());
    EXPECT_EQ((std::vector<u8>{0x39, 0x05, 0x00}), std::vector<u8>(pkt.begin(), pkt.begin() + 3));
    EXPECT_EQ(ParityEcc(0x000539), pkt[3]);
    EXPECT_EQ((std::vector<u8>{0x2A, 0x00, 0x00, 0x07, 0x7F}), std::vector<u8>(pkt.begin() + 4, pkt.begin() + 9));
    u16 u16Crc = mipi_tx_crc16(&pkt[4], 5);
    EXPECT_EQ(u16Crc & 0xFF, pkt[9]);
    EXPECT_EQ(u16Crc >> 8, pkt[10]);
    EXPECT_EQ((std::vector<u8>{0x15, 0x36, 0x00, ParityEcc(0x003615)}), Packet(6));
    EXPECT_NE(std::string::npos, out.find("error! lp cmd: 6, exceed cmd fifo"));
    EXPECT_NE(std::string::npos, out.find("error! exceed maximum dcs setting table index"));
}

// 1080p60: PLL byte 0x23, MCLK 148 MHz; the CSI timing follows its period.
// A zero pixel clock or a lane count without a bus setting leaves the
// output off.
TEST_F(HdmiRxMipiTest, EnableTakesClockDependentSettings)
{
    testing::internal::CaptureStdout();
    pstRx->stVideoInfo.u32PixelClk = 148500;
    ASSERT_EQ(0, hdmirx_enable_mipi(pstRx));
    EXPECT_EQ(0x23, pstRx->stMipi.u8Pll);
    EXPECT_EQ(148u, pstRx->stMipi.u32MclkKHz / 1000);
    EXPECT_EQ(6756u, pstRx->stMipi.u32MclkPeriod);
    EXPECT_EQ(17, pstChip->au8Mipi[0x1F]);                            // hs_trail
    EXPECT_EQ(49, pstChip->au8Mipi[0x22]);                            // hs_prepare_zero
    EXPECT_EQ(0x00, pstChip->au8Mipi[0x05]);

    hdmirx_disable_mipi(pstRx);
    pstRx->stVideoInfo.u32PixelClk = 0;
    EXPECT_EQ(-1, hdmirx_enable_mipi(pstRx));
    EXPECT_EQ(0x36, pstChip->au8Mipi[0x05]);
    pstRx->stVideoInfo.u32PixelClk = 148500;
    pstRx->u8LaneNum = 3;
    EXPECT_EQ(-1, hdmirx_enable_mipi(pstRx));
    EXPECT_EQ(0x36, pstChip->au8Mipi[0x05]);
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("mipi_get_bus_config error"));
}

// A format the transmitter cannot send is replaced by one it can.
TEST_F(HdmiRxMipiTest, UnsupportedCsiFormatsAreReplaced)
{
    testing::internal::CaptureStdout();
    const u8 aau8Cases[][2] = {{0x30, 0x1E}, {0x25, 0x24}, {0x24, 0x24}};
    for (const auto &au8 : aau8Cases) {
        pstRx->u8OutFormat = au8[0];
        mipi_tx_get_support_format(pstRx);
        EXPECT_EQ(au8[1], pstRx->u8OutFormat) << (int)au8[0];
    }
    (void)testing::internal::GetCapturedStdout();
}
