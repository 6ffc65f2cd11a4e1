// Sim words of the simulated receiver: what a person does with the source
// (plug, unplug, HDCP, audio, AV mute), injected faults, and the dump.
#include "platform/host/HostHdmiRx.h"
#include "platform/host/HostSim.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool HostRxSim_OnOff(const std::vector<std::string> &words, bool *pbOn, std::string *pReply)
{
    if (words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        *pbOn = words[1] == "on";
        return true;
    }
    *pReply = words[0] + ": on or off";
    return false;
}

static bool HostRxSim_Number(const std::string &word, u32 *pu32)
{
    char *pszEnd = nullptr;
    unsigned long ul = strtoul(word.c_str(), &pszEnd, 10);
    if (word.empty() || *pszEnd != '\0' || ul > 10000000)
        return false;
    *pu32 = (u32)ul;
    return true;
}

// plug MODE [dvi] [rgb|yuv422|yuv444]: each plug says all it sends, HDMI in
// RGB unless its words say otherwise. Refused words change nothing.
static s32 HostRxSim_Plug(const std::vector<std::string> &words, std::string *pReply)
{
    static const char *apszColor[] = {"rgb", "yuv422", "yuv444"};
    if (words.size() < 2 || HostHdmiRx_FindMode(words[1].c_str()) == nullptr) {
        *pReply = "plug: unknown timing; known: " + HostHdmiRx_ModeNames();
        return -1;
    }
    bool bHdmi = true;
    u8 u8AviColor = 0;
    for (size_t i = 2; i < words.size(); i++) {
        bool bKnown = words[i] == "dvi";
        if (bKnown)
            bHdmi = false;
        for (u8 u8Color = 0; u8Color < 3; u8Color++)
            if (words[i] == apszColor[u8Color]) {
                u8AviColor = u8Color;
                bKnown = true;
            }
        if (!bKnown) {
            *pReply = "plug: unknown option " + words[i];
            return -1;
        }
    }
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    pstRx->bHdmi = bHdmi;
    pstRx->u8AviColor = u8AviColor;
    return HostHdmiRx_Plug(words[1].c_str());
}

static s32 HostRxSim_Unplug(const std::vector<std::string> &, std::string *)
{
    HostHdmiRx_Unplug();
    return 0;
}

// hdcp on|off, avmute on|off
static s32 HostRxSim_Switch(const std::vector<std::string> &words, std::string *pReply)
{
    static const struct { const char *pszWord; void (*pfnSet)(bool); } astSwitches[] = {
        {"hdcp", HostHdmiRx_SetHdcp},
        {"avmute", HostHdmiRx_SetAvMute},
    };
    bool bOn;
    if (!HostRxSim_OnOff(words, &bOn, pReply))
        return -1;
    for (const auto &st : astSwitches)
        if (words[0] == st.pszWord)
            st.pfnSet(bOn);
    return 0;
}

// audio RATE [CHANNEL-STATUS-RATE]
static s32 HostRxSim_Audio(const std::vector<std::string> &words, std::string *pReply)
{
    u32 u32Hz = 0, u32Claim = 0;
    if (words.size() < 2 || words.size() > 3 || !HostRxSim_Number(words[1], &u32Hz) ||
        (words.size() == 3 && !HostRxSim_Number(words[2], &u32Claim))) {
        *pReply = "audio: RATE [CHANNEL-STATUS-RATE] in Hz";
        return -1;
    }
    HostHdmiRx_SetAudio(u32Hz, u32Claim);
    return 0;
}

// inject ecc|deskew|fifo|i2c N, inject mipi stable|unstable, inject chip present|absent
static s32 HostRxSim_Inject(const std::vector<std::string> &words, std::string *pReply)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    u32 u32N = 0;
    if (words.size() == 3 && words[1] == "mipi" && (words[2] == "stable" || words[2] == "unstable")) {
        pstRx->bMipiUnstable = words[2] == "unstable";
    } else if (words.size() == 3 && words[1] == "chip" && (words[2] == "present" || words[2] == "absent")) {
        pstRx->bPresent = words[2] == "present";
    } else if (words.size() == 3 && HostRxSim_Number(words[2], &u32N)) {
        if (words[1] == "ecc")
            pstRx->u32EccErrors = u32N;
        else if (words[1] == "deskew")
            pstRx->u32DeskewErrors = u32N;
        else if (words[1] == "fifo")
            pstRx->u32FifoErrors = u32N;
        else if (words[1] == "i2c")
            pstRx->u32FailReads = pstRx->u32FailWrites = u32N;
        else
            u32N = ~0u;
    } else {
        u32N = ~0u;
    }
    if (u32N == ~0u) {
        *pReply = "inject: ecc|deskew|fifo|i2c N, mipi stable|unstable, chip present|absent";
        return -1;
    }
    HostRx_Advance(pstRx, HostRx_NowMs());
    return 0;
}

static std::string HostRxSim_Hex(const u8 *pu8, u32 u32Len)
{
    std::string s;
    char az[4];
    for (u32 i = 0; i < u32Len; i++) {
        snprintf(az, sizeof(az), "%02x", pu8[i]);
        s += az;
    }
    return s;
}

static std::string HostRxSim_Line(const char *pszFmt, ...) __attribute__((format(printf, 1, 2)));
static std::string HostRxSim_Line(const char *pszFmt, ...)
{
    char az[256];
    va_list ap;
    va_start(ap, pszFmt);
    vsnprintf(az, sizeof(az), pszFmt, ap);
    va_end(ap);
    return std::string(az) + "\n";
}

std::string HostHdmiRx_Dump(void)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    HostRx_Advance(pstRx, HostRx_NowMs());
    const u8 *pu8Mipi = pstRx->au8Mipi;
    std::string s;
    s += HostRxSim_Line("chip %s, now %llu ms", pstRx->bPresent ? "present" : "absent",
                        (unsigned long long)HostRx_NowMs());
    s += HostRxSim_Line("source %s %s %s, hdcp %s, audio %u Hz, avmute %s",
                        pstRx->bPlugged ? "plugged" : "unplugged",
                        pstRx->pstMode ? pstRx->pstMode->pszName : "-", pstRx->bHdmi ? "hdmi" : "dvi",
                        pstRx->bHdcp ? "on" : "off", pstRx->u32AudioHz, pstRx->bAvMute ? "on" : "off");
    s += HostRxSim_Line("link 5v %d hpd %d clock %d scdt %d encrypted %d", pstRx->bPlugged, pstRx->bHpd,
                        pstRx->bClock, pstRx->bScdt, pstRx->bEncrypted);
    s += HostRxSim_Line("edid ram (source read it %u times)", pstRx->u32EdidReads);
    for (u32 i = 0; i < 256; i += 32)
        s += HostRxSim_Line("  %02x: %s", i, HostRxSim_Hex(pstRx->au8EdidRam + i, 32).c_str());
    s += HostRxSim_Line("edid latched: offset 0x%02x address %02x%02x checksums %02x %02x",
                        pstRx->au8Latched[0], pstRx->au8Latched[1], pstRx->au8Latched[2],
                        pstRx->au8Latched[3], pstRx->au8Latched[4]);
    u32 u32First = pstRx->u32HpdEvents > HOSTRX_HPD_EVENTS ? pstRx->u32HpdEvents - HOSTRX_HPD_EVENTS : 0;
    for (u32 i = u32First; i < pstRx->u32HpdEvents; i++) {
        const HostRxHpdEvent_S *pstEv = &pstRx->astHpd[i % HOSTRX_HPD_EVENTS];
        s += HostRxSim_Line("hpd %s at %llu ms", pstEv->bHigh ? "high" : "low", (unsigned long long)pstEv->u64Ms);
    }
    s += HostRxSim_Line("mipi output %s stable %d format 0x%02x lanes %u pll 0x%02x p2m %u trail %u prepare %u",
                        (pu8Mipi[0x05] & 0x36) == 0 ? "on" : "off", pstRx->bMipiStable, pu8Mipi[0x20],
                        ((pu8Mipi[0x21] >> 4) & 3) + 1, pu8Mipi[0xB0], pu8Mipi[0x25], pu8Mipi[0x1F], pu8Mipi[0x22]);
    u32First = pstRx->u32LpPackets > HOSTRX_LP_PACKETS ? pstRx->u32LpPackets - HOSTRX_LP_PACKETS : 0;
    for (u32 i = u32First; i < pstRx->u32LpPackets; i++) {
        const HostRxLpPacket_S *pstPkt = &pstRx->astLp[i % HOSTRX_LP_PACKETS];
        s += HostRxSim_Line("mipi lp packet %s", HostRxSim_Hex(pstPkt->au8Data, pstPkt->u32Len).c_str());
    }
    return s;
}

static s32 HostRxSim_Dump(const std::vector<std::string> &, std::string *pReply)
{
    *pReply += HostHdmiRx_Dump();
    return 0;
}

void HostHdmiRx_RegisterSim(void)
{
    HostSim_Register("plug", HostRxSim_Plug, "MODE [dvi] [rgb|yuv422|yuv444]: HDMI source sends MODE "
                                             "(1920x1080p60, 1280x720p50, 1920x1080i60, 3840x2160p30, ...)");
    HostSim_Register("unplug", HostRxSim_Unplug, ": HDMI source unplugged");
    HostSim_Register("hdcp", HostRxSim_Switch, "on|off: HDMI source encrypts");
    HostSim_Register("audio", HostRxSim_Audio, "RATE [CHANNEL-STATUS-RATE]: HDMI audio in Hz, 0 none");
    HostSim_Register("avmute", HostRxSim_Switch, "on|off: HDMI source sets AV mute");
    HostSim_Register("inject", HostRxSim_Inject, "ecc|deskew|fifo|i2c N, mipi stable|unstable, "
                                                 "chip present|absent: HDMI receiver faults");
    HostSim_Register("hdmirx", HostRxSim_Dump, ": HDMI receiver dump (EDID RAM, hot-plug, MIPI)");
}
