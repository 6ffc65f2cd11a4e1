// Register model of the simulated receiver chip: what a register access
// does. Status registers are owned by the timeline and ignore writes;
// interrupt registers clear the bits written as 1.
#include "platform/host/HostHdmiRx.h"
#include "platform/host/HostMedia.h"

#include <cstring>
#include <time.h>

#define RX_BANK_SEL     0x0F
#define RX_RCLK_GATE    0x58    // bit 7 runs the reference-clock counter
#define RX_RCLK_WINDOW  100     // ms the counter counts at most
#define RX_EDID_CTRL    0x4B    // 0xA9: EDID RAM writable
#define RX_EDID_LATCH   0xC5    // bit 4 falling latches 0xC6-0xCA
#define RX_HPD_BANK     3
#define RX_HPD_REG      0xAB    // bits 6-7: 11 high, 01 low

#define MIPI_CTRL       0x05    // bits 0 and 3 reset the block and clear
#define MIPI_LP_CTRL    0x70    // bit 2 low-power mode, bit 0 fires the FIFO
#define MIPI_LP_DATA    0x71    // FIFO data port
#define MIPI_WINDOW     1024    // reference-clock cycles a MIPI clock count spans

static HostHdmiRx_S s_stRx;
static bool s_bReady;

static const u8 s_au8ChipId[4] = {0x54, 0x49, 0x16, 0x66};

// Receiver bank-0 registers that clear on writing 1, and those that only
// the chip sets.
static const u8 s_au8W1c[] = {0x05, 0x06, 0x09, 0x10, 0x11, 0x12};
static const u8 s_au8Status0[] = {0x00, 0x01, 0x02, 0x03, 0x13, 0x19, 0x1A, 0x1B, 0x48, 0x59, 0x5A,
                                  0x5B, 0x98, 0x99, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xA0, 0xA1, 0xA2,
                                  0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xAA, 0xB5, 0xCF};
static const u8 s_au8Status2[] = {0xBE, 0xBF, 0xC0, 0xC1, 0xC2};

static bool HostRx_In(const u8 *pu8List, u32 u32Count, u8 u8Reg)
{
    return memchr(pu8List, u8Reg, u32Count) != nullptr;
}

std::recursive_mutex &HostRx_Lock(void)
{
    static std::recursive_mutex s_Lock;
    return s_Lock;
}

u64 HostRx_NowMs(void)
{
    struct timespec stNow;
    clock_gettime(CLOCK_MONOTONIC, &stNow);
    return (u64)stNow.tv_sec * 1000 + (u64)stNow.tv_nsec / 1000000;
}

HostHdmiRx_S *HostHdmiRx_Get(void)
{
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    if (!s_bReady) {
        s_bReady = true;
        HostHdmiRx_Reset();
        HostHdmiRx_RegisterSim();
    }
    return &s_stRx;
}

void HostHdmiRx_Reset(void)
{
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    memset(&s_stRx, 0, sizeof(s_stRx));
    s_stRx.bPresent = true;
    s_stRx.u32RclkKHz = 27000;
    s_stRx.bHdmi = true;
    s_stRx.u32AudioHz = 48000;                      // as most sources send
    s_stRx.u32ClockDelayMs = 50;
    s_stRx.u32ScdtDelayMs = 100;
    memcpy(s_stRx.aau8Hdmi[0], s_au8ChipId, sizeof(s_au8ChipId));
    s_stRx.aau8Hdmi[0][0x48] = 0xFF;                // no clock: a zero count
    s_stRx.aau8Hdmi[RX_HPD_BANK][RX_HPD_REG] = 0x40;
    s_stRx.au8Mipi[0x04] = 0xC0;                    // chip revision
    s_stRx.au8Mipi[MIPI_CTRL] = 0x36;               // output off
    HostPad_SetOutput(false);
    HostPad_SetAudio(0);
}

static void HostRx_GateRclk(HostHdmiRx_S *pstRx, u8 u8Old, u8 u8New, u64 u64Now)
{
    if (!(u8Old & 0x80) && (u8New & 0x80))
        pstRx->u64RclkGateMs = u64Now;
    if ((u8Old & 0x80) && !(u8New & 0x80)) {
        u64 u64Ms = u64Now - pstRx->u64RclkGateMs;
        u32 u32Count = (u32)((u64Ms < RX_RCLK_WINDOW ? u64Ms : RX_RCLK_WINDOW) * pstRx->u32RclkKHz);
        pstRx->aau8Hdmi[0][0x59] = (u8)u32Count;
        pstRx->aau8Hdmi[0][0x5A] = (u8)(u32Count >> 8);
        pstRx->aau8Hdmi[0][0x5B] = (u8)(u32Count >> 16);
    }
}

static void HostRx_WriteHdmi(HostHdmiRx_S *pstRx, u8 u8Reg, u8 u8Val, u64 u64Now)
{
    u8 u8Bank = pstRx->aau8Hdmi[0][RX_BANK_SEL] & (HOSTRX_BANKS - 1);
    u8 *pu8 = &pstRx->aau8Hdmi[u8Bank][u8Reg];
    if (u8Reg == RX_BANK_SEL) {
        pstRx->aau8Hdmi[0][RX_BANK_SEL] = u8Val;
        return;
    }
    if (u8Bank == 0) {
        if (HostRx_In(s_au8W1c, sizeof(s_au8W1c), u8Reg)) {
            *pu8 &= (u8)~u8Val;
            return;
        }
        if (HostRx_In(s_au8Status0, sizeof(s_au8Status0), u8Reg))
            return;
        if (u8Reg == 0x43)
            u8Val = (u8)((*pu8 & 0xE0) | (u8Val & 0x1F));
        else if (u8Reg == 0x9A)
            u8Val = (u8)((*pu8 & 0x03) | (u8Val & 0xFC));
        else if (u8Reg == RX_RCLK_GATE)
            HostRx_GateRclk(pstRx, *pu8, u8Val, u64Now);
        else if (u8Reg == RX_EDID_LATCH && (*pu8 & 0x10) && !(u8Val & 0x10))
            memcpy(pstRx->au8Latched, &pstRx->aau8Hdmi[0][0xC6], sizeof(pstRx->au8Latched));
        *pu8 = u8Val;
        return;
    }
    if (u8Bank == 2 && (HostRx_In(s_au8Status2, sizeof(s_au8Status2), u8Reg) || (u8Reg >= 0x12 && u8Reg <= 0x23)))
        return;
    *pu8 = u8Val;
    if (u8Bank == RX_HPD_BANK && u8Reg == RX_HPD_REG && ((u8Val & 0xC0) == 0xC0) != pstRx->bHpd)
        HostRx_OnHpd(pstRx, (u8Val & 0xC0) == 0xC0, u64Now);
}

static u8 HostRx_ReadHdmi(HostHdmiRx_S *pstRx, u8 u8Reg)
{
    u8 u8Bank = pstRx->aau8Hdmi[0][RX_BANK_SEL] & (HOSTRX_BANKS - 1);
    if (u8Reg == RX_BANK_SEL)
        return pstRx->aau8Hdmi[0][RX_BANK_SEL];
    u8 *pu8 = &pstRx->aau8Hdmi[u8Bank][u8Reg];
    if (u8Bank != 0 && (u8Reg == 0x05 || u8Reg == 0x06 || u8Reg == 0x09))
        pstRx->u32OffBankReads++;
    if (u8Bank == 0 && u8Reg == 0x05) {
        if (pstRx->u32EccErrors && !(*pu8 & 0x20)) {
            pstRx->u32EccErrors--;
            *pu8 |= 0x20;
        }
        if (pstRx->u32DeskewErrors && !(*pu8 & 0x40)) {
            pstRx->u32DeskewErrors--;
            *pu8 |= 0x40;
        }
    }
    return *pu8;
}

// Latches one MIPI clock count: cycles in MIPI_WINDOW reference cycles,
// low byte at u8Low, the rest in bits 0-6 of u8Low + 1.
static void HostRx_LatchMipiClock(HostHdmiRx_S *pstRx, u8 u8Low, u32 u32KHz)
{
    u32 u32Count = (u32)((u64)u32KHz * MIPI_WINDOW / pstRx->u32RclkKHz);
    pstRx->au8Mipi[u8Low] = (u8)u32Count;
    pstRx->au8Mipi[u8Low + 1] = (u8)((pstRx->au8Mipi[u8Low + 1] & 0x80) | ((u32Count >> 8) & 0x7F));
}

static u32 HostRx_MipiClockKHz(const HostHdmiRx_S *pstRx)
{
    if (!pstRx->bScdt || pstRx->pstMode == nullptr)
        return 0;
    u8 u8Pll = pstRx->au8Mipi[0xB0];
    return (u32)((u64)pstRx->pstMode->u32PixelKHz * ((u8Pll & 0x1F) + 1) / 2 / ((u8Pll >> 5) + 1));
}

static void HostRx_FireLp(HostHdmiRx_S *pstRx)
{
    HostRxLpPacket_S *pstPkt = &pstRx->astLp[pstRx->u32LpPackets % HOSTRX_LP_PACKETS];
    pstPkt->u32Len = pstRx->u32LpFifoLen;
    memcpy(pstPkt->au8Data, pstRx->au8LpFifo, pstRx->u32LpFifoLen);
    pstRx->u32LpPackets++;
    pstRx->u32LpFifoLen = 0;
}

static void HostRx_WriteMipi(HostHdmiRx_S *pstRx, u8 u8Reg, u8 u8Val)
{
    u8 *pu8 = &pstRx->au8Mipi[u8Reg];
    u8 u8Old = *pu8;
    switch (u8Reg) {
    case 0x04:
    case 0x09:
        return;
    case 0x0A:
    case 0x0B:
        *pu8 &= (u8)~u8Val;
        return;
    case MIPI_CTRL:
        if (u8Val & 0x09)
            pstRx->u32LpFifoLen = 0;
        *pu8 = u8Val & (u8)~0x09;
        return;
    case MIPI_LP_DATA:
        if (pstRx->u32LpFifoLen < HOSTRX_LP_FIFO)
            pstRx->au8LpFifo[pstRx->u32LpFifoLen++] = u8Val;
        return;
    case MIPI_LP_CTRL:
        if ((u8Val & 0x01) && (u8Val & 0x04))
            HostRx_FireLp(pstRx);
        *pu8 = u8Val & (u8)~0x01;
        return;
    default:
        break;
    }
    *pu8 = u8Val;
    if (!(u8Old & 0x80) && (u8Val & 0x80)) {
        u32 u32PixelKHz = pstRx->bScdt && pstRx->pstMode ? pstRx->pstMode->u32PixelKHz : 0;
        if (u8Reg == 0xE0) {
            pstRx->au8Mipi[0xE1] = (u8)pstRx->u32RclkKHz;
            pstRx->au8Mipi[0xE2] = (u8)(pstRx->u32RclkKHz >> 8);
            pstRx->au8Mipi[0xE3] = (u8)(pstRx->u32RclkKHz >> 16);
        } else if (u8Reg == 0xE7) {
            HostRx_LatchMipiClock(pstRx, 0xE6, HostRx_MipiClockKHz(pstRx));
        } else if (u8Reg == 0xE5) {
            HostRx_LatchMipiClock(pstRx, 0xE4, u32PixelKHz);
        }
    }
}

static u8 HostRx_ReadMipi(HostHdmiRx_S *pstRx, u8 u8Reg)
{
    if (u8Reg == 0x0A && pstRx->u32FifoErrors && !(pstRx->au8Mipi[0x0A] & 0x40)) {
        pstRx->u32FifoErrors--;
        pstRx->au8Mipi[0x0A] |= 0x40;
    }
    return pstRx->au8Mipi[u8Reg];
}

static bool HostRx_Acknowledge(u8 u8Addr, u32 *pu32Failures)
{
    if (!s_stRx.bPresent)
        return false;
    if (u8Addr != HOSTRX_ADDR_HDMI && u8Addr != HOSTRX_ADDR_MIPI && u8Addr != HOSTRX_ADDR_EDID)
        return false;
    if (*pu32Failures) {
        (*pu32Failures)--;
        return false;
    }
    return true;
}

s32 HostHdmiRx_Read(u8 u8Addr, u8 u8Reg, u8 *pu8Data, u32 u32Len)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    if (!HostRx_Acknowledge(u8Addr, &pstRx->u32FailReads))
        return -1;
    HostRx_Advance(pstRx, HostRx_NowMs());
    for (u32 i = 0; i < u32Len; i++) {
        u8 u8At = (u8)(u8Reg + i);
        if (u8Addr == HOSTRX_ADDR_HDMI)
            pu8Data[i] = HostRx_ReadHdmi(pstRx, u8At);
        else if (u8Addr == HOSTRX_ADDR_MIPI)
            pu8Data[i] = HostRx_ReadMipi(pstRx, u8At);
        else
            pu8Data[i] = pstRx->au8EdidRam[u8At];
    }
    return 0;
}

s32 HostHdmiRx_Write(u8 u8Addr, u8 u8Reg, const u8 *pu8Data, u32 u32Len)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    if (!HostRx_Acknowledge(u8Addr, &pstRx->u32FailWrites))
        return -1;
    u64 u64Now = HostRx_NowMs();
    HostRx_Advance(pstRx, u64Now);
    for (u32 i = 0; i < u32Len; i++) {
        u8 u8At = (u8)(u8Reg + i);
        if (u8Addr == HOSTRX_ADDR_HDMI)
            HostRx_WriteHdmi(pstRx, u8At, pu8Data[i], u64Now);
        else if (u8Addr == HOSTRX_ADDR_MIPI)
            HostRx_WriteMipi(pstRx, u8At, pu8Data[i]);
        else if (pstRx->aau8Hdmi[0][RX_EDID_CTRL] & 0x01)
            pstRx->au8EdidRam[u8At] = pu8Data[i];
    }
    HostRx_Advance(pstRx, u64Now);
    return 0;
}
