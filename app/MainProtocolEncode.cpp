// The main stream's encoder and audio settings as the control protocol
// reports them, with texts of the input timing and its HDCP state.
#include <cstdio>

#include "app/Main.h"
#include "app/MainProtocol.h"
#include "config/ConfigAttr.h"
#include "core/Debug.h"
#include "media/AVSource.h"

struct MainResName_S {
    u32 u32Width;
    u32 u32Height;
    s32 s32Scan;          // 0 progressive, 1 interlaced, -1 either
    const char *pszName;
};

// The first matching row names the timing; the others print as "%d*%dP".
static const MainResName_S s_astResNames[] = {
    {1920, 1080, 0, "1920*1080P"},
    {1920, 540, -1, "1920*1080I"},
    {1280, 720, -1, "1280*720P"},
    {720, 576, 0, "720*576P"},
    {720, 288, -1, "720*576I"},
    {720, 480, 0, "720*480P"},
    {720, 240, -1, "720*480I"},
    {1440, 288, 1, "720*576I"},
    {1440, 240, 1, "720*480I"},
};

// Colour space of the input status record: 1 YCbCr 4:2:2, 2 YCbCr 4:4:4.
static const char *Main_ColorName(u32 u32ColorSpace)
{
    if (u32ColorSpace == 1)
        return "YCBCR422";
    return u32ColorSpace == 2 ? "YCBCR444" : "RGB444";
}

// The timing of the running capture: its resolution name and frame rate as
// the signal-change handling accepted them (the rate normalised), and the
// input's colour space from the source layer.
static void Main_TimingText(const AVSourceVMsg_S *pstVMsg, u32 u32ColorSpace, char *pszOut, size_t u32Size)
{
    s32 s32Scan = pstVMsg->enSan == 1 ? 1 : 0;
    char azName[24];
    snprintf(azName, sizeof(azName), "%u*%uP", pstVMsg->u32Width, pstVMsg->u32Height);
    for (const MainResName_S &stRow : s_astResNames) {
        if (stRow.u32Width == pstVMsg->u32Width && stRow.u32Height == pstVMsg->u32Height &&
            (stRow.s32Scan < 0 || stRow.s32Scan == s32Scan)) {
            snprintf(azName, sizeof(azName), "%s", stRow.pszName);
            break;
        }
    }
    snprintf(pszOut, u32Size, "%.12s%u %s", azName, pstVMsg->u32Fps, Main_ColorName(u32ColorSpace));
}

s32 Main_Protocolserver_getEncodeparams(void *pUser, ProtocolEncodeParams_S *pstParams)
{
    (void)pUser;
    const ConfigStreamAttr_S *pstMain = &g_stConfigAttr.stMainAttr;
    pstParams->enEncType = (s32)pstMain->u32Enctype + 1;
    pstParams->u32EncRes = pstMain->u32Encres + 1;
    pstParams->u32Fps = pstMain->u32Fps;
    pstParams->enRateControl = (s32)pstMain->u32Ratecontrol;
    pstParams->u32Bitrate = pstMain->u32Videobitrate;
    pstParams->u32AudioInput = pstMain->u32Audioinput;
    pstParams->enAudioCodec = (s32)pstMain->u32Audiocodec;
    pstParams->u32AudioFreq = (u32)g_stMainServerAttr.enSample;
    pstParams->u32AudioBitrate = pstMain->u32Audiobitrate;
    bool bRunning = g_stMainServerAttr.bViStart == 1;
    u8 u8Hdcp = g_hdcp_state;
    if (bRunning) {
        AVSourceVMsg_S stVMsg = g_stMainServerAttr.stVMsg;
        AVSourceStatus_S stStatus = {};
        s32 s32Ret = AVSource_getStatus(g_stMainServerAttr.hAVSource, &stStatus);
        if (s32Ret != 0)
            Debug_Log("[%s]: AVSource_getStatus failed with %#x!\n", log_Time(), s32Ret);
        Main_TimingText(&stVMsg, stStatus.u32ColorSpace, pstParams->azVideoResStatus,
                        sizeof(pstParams->azVideoResStatus));
    } else {
        snprintf(pstParams->azVideoResStatus, sizeof(pstParams->azVideoResStatus), "No Signal");
    }
    snprintf(pstParams->azHdcpStatus, sizeof(pstParams->azHdcpStatus), "%s",
             bRunning && u8Hdcp == 1 ? "HDCP 1.4" : "NONE");
    pstParams->s32Voltage = g_stConfigAttr.stManual.s32IrVoltage;
    pstParams->s32Lcd = g_stConfigAttr.stManual.s32LcdDisplayMode;
    pstParams->s32Led = g_stConfigAttr.stManual.s32LedDisplayMode;
    return 0;
}
