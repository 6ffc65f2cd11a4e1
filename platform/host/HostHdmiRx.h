// Simulated HDMI receiver chip on I2C bus 1 (receiver 0x48, MIPI transmitter
// 0x56, EDID RAM 0x54) with an HDMI source plugged into it. The source's
// timeline is evaluated against CLOCK_MONOTONIC at every register access:
// 5 V on plug, clock and then SCDT some time after hot-plug goes high,
// loss on hot-plug low, timing change or unplug. Tests read and set the
// record between driver calls; the sim words ("tools/box sim NAME plug ...")
// change it under its lock. The receiver's CSI-2 output feeds the capture
// pad of the media engine stand-in (platform/host/HostMedia.h): the pad
// hears when it starts and stops and which audio rate comes with it.
#ifndef PLATFORM_HOST_HOSTHDMIRX_H
#define PLATFORM_HOST_HOSTHDMIRX_H

#include <mutex>
#include <string>

#include "core/Types.h"

#define HOSTRX_BUS           1
#define HOSTRX_ADDR_HDMI     0x48
#define HOSTRX_ADDR_MIPI     0x56
#define HOSTRX_ADDR_EDID     0x54
#define HOSTRX_BANKS         8      // receiver banks, selected by bits 0-2 of 0x0F
#define HOSTRX_HPD_EVENTS    32     // hot-plug history kept (oldest dropped)
#define HOSTRX_LP_PACKETS    8      // low-power packets kept (oldest dropped)
#define HOSTRX_LP_FIFO       160    // bytes of one low-power packet

struct HostRxMode_S {               // one source timing (CEA-861)
    const char *pszName;
    u8   u8Vic;
    u32  u32PixelKHz;
    u16  u16HActive, u16HFront, u16HSync, u16HBack;
    u16  u16VActive, u16VFront, u16VSync, u16VBack;   // one field when interlaced
    bool bInterlace;
    bool bSyncPos;                  // both syncs positive
};

struct HostRxHpdEvent_S {
    u64  u64Ms;                     // monotonic ms
    bool bHigh;
};

struct HostRxLpPacket_S {
    u32 u32Len;
    u8  au8Data[HOSTRX_LP_FIFO];    // as fired: header, ECC, payload, CRC
};

struct HostHdmiRx_S {
    // The chip.
    bool bPresent;                  // false: no transfer is acknowledged
    u32  u32FailReads;              // that many coming reads fail
    u32  u32FailWrites;             // that many coming writes fail
    u32  u32RclkKHz;                // reference clock
    u8   aau8Hdmi[HOSTRX_BANKS][256];   // receiver registers (0x0F lives in bank 0)
    u8   au8Mipi[256];
    u8   au8EdidRam[256];
    u8   au8Latched[5];             // 0xC6-0xCA as latched when 0xC5 bit 4 last fell
    // The source.
    bool bPlugged;                  // 5 V present
    const HostRxMode_S *pstMode;    // timing sent, null: none
    bool bHdmi;                     // false: DVI
    u8   u8AviColor;                // AVI colour space: 0 RGB, 1 YCbCr 4:2:2, 2 YCbCr 4:4:4
    bool bHdcp;                     // encrypts once the link is up
    bool bAvMute;
    u32  u32AudioHz;                // 0: no audio
    u32  u32ChStatusHz;             // rate the channel status claims, 0: u32AudioHz
    u32  u32ClockDelayMs;           // hot-plug high (or a new timing) to clock
    u32  u32ScdtDelayMs;            // clock to SCDT
    // Injections: each is raised on that many coming reads of its register.
    u32  u32EccErrors;              // receiver 0x05 bit 5
    u32  u32DeskewErrors;           // receiver 0x05 bit 6
    u32  u32FifoErrors;             // MIPI 0x0A bit 6
    bool bMipiUnstable;             // the MIPI output cannot stay stable
    // State derived by the timeline.
    bool bHpd, bClock, bScdt, bEncrypted, bMipiStable;
    u64  u64SourceMs;               // when the source (re)started its output
    u64  u64RclkGateMs;             // when the reference-clock counter started
    u32  u32OffBankReads;           // 0x05, 0x06 or 0x09 read with another bank selected
    HostRxHpdEvent_S astHpd[HOSTRX_HPD_EVENTS];
    u32  u32HpdEvents;              // events seen in all (index modulo the array)
    u8   au8SourceEdid[256];        // what the source read at the last hot-plug rise
    u32  u32EdidReads;
    HostRxLpPacket_S astLp[HOSTRX_LP_PACKETS];
    u32  u32LpPackets;              // packets fired in all
    u8   au8LpFifo[HOSTRX_LP_FIFO];
    u32  u32LpFifoLen;
    // What the capture pad of the media engine stand-in was last told.
    bool bPadOutput;                // CSI-2 output on with a signal behind it
    u32  u32PadAudioHz;             // audio the source sends, 0: none
};

// The record; the first call resets the chip with nothing plugged and
// registers the sim words.
HostHdmiRx_S *HostHdmiRx_Get(void);

// Power-on: registers to their reset values, histories cleared, source
// unplugged with default settings (48 kHz audio, delays 50 ms and 100 ms),
// the capture pad told that nothing comes.
void HostHdmiRx_Reset(void);

// The timing of that name ("1920x1080p60", ...), or null.
const HostRxMode_S *HostHdmiRx_FindMode(const char *pszName);
// The names of every timing, separated by spaces.
std::string HostHdmiRx_ModeNames(void);

// Source actions, under the model's lock. Plug with another timing while
// plugged is a timing change; with the same timing it sends bHdmi and
// u8AviColor as they are now, keeping the link. Return 0, or -1 for an
// unknown name.
s32  HostHdmiRx_Plug(const char *pszMode);
void HostHdmiRx_Unplug(void);
void HostHdmiRx_SetHdcp(bool bOn);
void HostHdmiRx_SetAudio(u32 u32Hz, u32 u32ChStatusHz);
void HostHdmiRx_SetAvMute(bool bOn);

// The EDID as the source reads it now: RAM with the latched physical
// address and checksums put in.
void HostHdmiRx_SourceEdid(u8 au8Out[256]);

// Text dump: source, link, EDID RAM, hot-plug history, MIPI state.
std::string HostHdmiRx_Dump(void);

// Register access for the I2C stand-in (bus 1). 0, or -1 (no acknowledge).
s32 HostHdmiRx_Read(u8 u8Addr, u8 u8Reg, u8 *pu8Data, u32 u32Len);
s32 HostHdmiRx_Write(u8 u8Addr, u8 u8Reg, const u8 *pu8Data, u32 u32Len);

// Sim words (plug, unplug, hdcp, audio, avmute, inject, hdmirx).
void HostHdmiRx_RegisterSim(void);

// Shared by the model's files; the caller holds HostRx_Lock().
std::recursive_mutex &HostRx_Lock(void);
u64  HostRx_NowMs(void);
void HostRx_Advance(HostHdmiRx_S *pstRx, u64 u64Now);   // apply the timeline up to now
void HostRx_OnHpd(HostHdmiRx_S *pstRx, bool bHigh, u64 u64Now);

#endif
