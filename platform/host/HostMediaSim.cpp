// Media engine stand-in: the "pad" words of the simulated hardware. Until
// the HDMI receiver drives the capture pad, they stand for it: a timing
// is set as the source layer would set it, and the receiver's output runs.
#include "platform/host/HostMedia.h"
#include "platform/host/HostMediaEngine.h"
#include "platform/host/HostSim.h"

#include <cstdio>
#include <cstring>

#define HOST_SIM_AUDIO_RATE 48000

static const char *const s_apszTypes[] = {"h264", "h265", "jpeg"};

// Sends the driver the video info a locked (or, with bSupport false, a lost) input gives.
static s32 HostSim_SetTiming(bool bSupport, u32 u32Width, u32 u32Height, u32 u32Fps, bool bInterlace)
{
    u8 au8Rec[MI_SNR_VIDEO_INFO_LEN] = {};
    au8Rec[4] = bSupport;
    au8Rec[6] = (u8)u32Width;
    au8Rec[7] = (u8)(u32Width >> 8);
    au8Rec[8] = (u8)u32Height;
    au8Rec[9] = (u8)(u32Height >> 8);
    au8Rec[10] = (u8)u32Fps;
    au8Rec[12] = bInterlace;
    memcpy(au8Rec + 16, au8Rec + 6, 2);
    memcpy(au8Rec + 20, au8Rec + 8, 2);
    return MI_SNR_CustFunction(0, MI_SNR_CMD_SET_VIDEO_INFO, sizeof(au8Rec), au8Rec, 1);
}

static void HostSim_Status(std::string *pReply)
{
    HostMedia_S st;
    HostMedia_Get(&st);
    char az[256];
    snprintf(az, sizeof(az), "pad: %s state %u timing %ux%u%c%u output %s\n", st.bPadEnabled ? "enabled" : "disabled",
             st.enPadState, st.u32PadWidth, st.u32PadHeight, st.bPadInterlace ? 'i' : 'p', st.u32PadFps,
             st.bPadOutput ? "on" : "off");
    *pReply += az;
    snprintf(az, sizeof(az), "video input: %s, %llu pictures; %u binds\n", st.bViDelivering ? "delivering" : "idle",
             (unsigned long long)st.u64ViFrames, st.u32Binds);
    *pReply += az;
    for (u32 i = 0; i < MI_VPE_MAX_CHN; i++) {
        const HostVpeInfo_S &v = st.astVpe[i];
        if (!v.bCreated)
            continue;
        *pReply += "vpe " + std::to_string(i) + (v.bStarted ? ": started," : ": stopped,");
        for (u32 u32Port = 0; u32Port < MI_VPE_MAX_PORT; u32Port++)
            if (v.abPortEnabled[u32Port])
                *pReply += " port " + std::to_string(u32Port) + " " + std::to_string(v.au32PortWidth[u32Port]) + "x" +
                           std::to_string(v.au32PortHeight[u32Port]);
        *pReply += "\n";
    }
    for (u32 i = 0; i < MI_VENC_MAX_CHN; i++) {
        const HostVencInfo_S &v = st.astVenc[i];
        if (!v.bCreated)
            continue;
        snprintf(az, sizeof(az), "venc %u: %s %ux%u %s, GOP %s, pictures %u queued %u dropped %u early %u idr %u\n", i,
                 s_apszTypes[v.enType - MI_VENC_TYPE_H264], v.u32Width, v.u32Height, v.bRecv ? "receiving" : "stopped",
                 v.bGopReady ? "ready" : "not ready", v.u32Seq, v.u32Queued, v.u32Dropped, v.u32NotReady, v.u32Idrs);
        *pReply += az;
    }
    snprintf(az, sizeof(az), "GOPs encoded: %u, kept %llu bytes", st.u32GopsBuilt, (unsigned long long)st.u64GopBytes);
    *pReply += az;
}

static s32 HostSim_Pad(const std::vector<std::string> &words, std::string *pReply)
{
    u32 u32Width, u32Height, u32Fps;
    char cScan;
    std::string arg = words.size() > 1 ? words[1] : "";
    if (words.size() == 2 && arg == "status") {
        HostSim_Status(pReply);
        return 0;
    }
    if (words.size() == 2 && arg == "off") {
        HostPad_SetOutput(false);
        (void)HostSim_SetTiming(false, 0, 0, 0, false);   // a cleared record is always taken
        return 0;
    }
    if (words.size() == 3 && arg == "output" && (words[2] == "on" || words[2] == "off")) {
        HostPad_SetOutput(words[2] == "on");
        return 0;
    }
    u32 u32Rate;
    if (words.size() == 3 && arg == "audio" && sscanf(words[2].c_str(), "%u", &u32Rate) == 1) {
        HostPad_SetAudio(u32Rate);
        return 0;
    }
    char cEnd;
    if (words.size() == 2 &&
        sscanf(arg.c_str(), "%ux%u%c%u%c", &u32Width, &u32Height, &cScan, &u32Fps, &cEnd) == 4 &&
        (cScan == 'p' || cScan == 'i')) {
        bool bInterlace = cScan == 'i';
        // The receiver reports an interlaced input by its fields: half the
        // lines at the field rate, the F of "1080i60".
        s32 s32Ret = HostSim_SetTiming(true, u32Width, bInterlace ? u32Height / 2 : u32Height, u32Fps, bInterlace);
        if (s32Ret != MI_SUCCESS) {
            *pReply = "the capture does not take " + arg;
            return -1;
        }
        HostPad_SetAudio(HOST_SIM_AUDIO_RATE);
        HostPad_SetOutput(true);
        return 0;
    }
    *pReply = "usage: pad WxHpF | WxHiF | off | output on|off | audio RATE | status";
    return -1;
}

void HostMediaSim_Register(void)
{
    HostSim_Register("pad", HostSim_Pad,
                     "WxHpF|WxHiF|off|output on|off|audio RATE|status: the capture pad of the media engine");
}
