#include "tests/protocol/FakeBox.h"

#include <cstring>

static FakeBox_S *Box(void *pUser)
{
    return (FakeBox_S *)pUser;
}

static s32 Fake_GetDeviceid(void *pUser, char *pszType, char *pszId, s32 *ps32Id)
{
    Box(pUser)->calls.push_back("getDeviceid");
    strncpy(pszType, Box(pUser)->type.c_str(), 31);
    strncpy(pszId, Box(pUser)->deviceId.c_str(), 31);
    *ps32Id = Box(pUser)->s32Id;
    return 0;
}

static s32 Fake_GetDeviceinfo(void *pUser, ProtocolDeviceInfo_S *pstInfo)
{
    Box(pUser)->calls.push_back("getDeviceinfo");
    strncpy(pstInfo->azDeviceId, Box(pUser)->deviceId.c_str(), 31);
    strcpy(pstInfo->azAlias, "TX1");
    strcpy(pstInfo->azChip, "SSC335");
    pstInfo->s32Id = Box(pUser)->s32Id;
    strcpy(pstInfo->azDevType, "encoder");
    strcpy(pstInfo->azStatus, "0");
    strcpy(pstInfo->azVersion, "V1.0.0");
    pstInfo->au32Up[0] = 1;
    pstInfo->au32Up[1] = 2;
    pstInfo->au32Up[2] = 3;
    pstInfo->s32SerialBr = 115200;
    pstInfo->s32SerialBs = 8;
    pstInfo->s32Led = 1;
    return 0;
}

static s32 Fake_GetId(void *pUser, s32 *ps32Id)
{
    Box(pUser)->calls.push_back("ongetId");
    *ps32Id = Box(pUser)->s32Id;
    return 0;
}

static s32 Fake_GetVoltage(void *pUser, s32 *ps32Value)
{
    Box(pUser)->calls.push_back("ongetIrVoltage");
    *ps32Value = 12;
    return 0;
}

// A getter that writes nothing, like the receiver-only slots.
static s32 Fake_GetNothing(void *pUser, s32 *ps32Value)
{
    (void)ps32Value;
    Box(pUser)->calls.push_back("ongetNothing");
    return 0;
}

static s32 Fake_GetEncode(void *pUser, ProtocolEncodeParams_S *pstEnc)
{
    Box(pUser)->calls.push_back("getEncodeparams");
    pstEnc->enEncType = 1;
    pstEnc->u32EncRes = 3;
    pstEnc->u32Fps = 60;
    pstEnc->enRateControl = 2;
    pstEnc->u32Bitrate = 8000;
    pstEnc->u32AudioInput = 1;
    pstEnc->enAudioCodec = 0;
    pstEnc->u32AudioFreq = 48001;
    pstEnc->u32AudioBitrate = 128000;
    strcpy(pstEnc->azVideoResStatus, "No Signal");
    strcpy(pstEnc->azHdcpStatus, "NONE");
    pstEnc->s32Led = 1;
    return 0;
}

static s32 Fake_SetEncode(void *pUser, const ProtocolEncodeParams_S *pstEnc)
{
    Box(pUser)->calls.push_back("setEncodeparams");
    Box(pUser)->stEncSet = *pstEnc;
    return Box(pUser)->s32SetResult;
}

static s32 Fake_GetDecode(void *pUser, ProtocolDecodeParams_S *pstDec)
{
    (void)pstDec;
    Box(pUser)->calls.push_back("getDecodeparams");
    return 0;
}

static s32 Fake_SetDecode(void *pUser, const ProtocolDecodeParams_S *pstDec)
{
    Box(pUser)->calls.push_back("setDecodeparams");
    Box(pUser)->stDecSet = *pstDec;
    return Box(pUser)->s32SetResult;
}

static s32 Fake_GetNet(void *pUser, ProtocolNetParams_S *pstNet)
{
    Box(pUser)->calls.push_back("ongetNet");
    pstNet->bStatic = 1;
    strcpy(pstNet->azDevAddr, "169.254.96.78");
    strcpy(pstNet->azDevNetmask, "255.255.0.0");
    strcpy(pstNet->azDevGateway, "169.254.0.1");
    strcpy(pstNet->azDevMac, "0a:1b:2c:3d:4e:5f");
    pstNet->s32HttpPort = 80;
    return 0;
}

static s32 Fake_Factory(void *pUser)
{
    Box(pUser)->calls.push_back("onFactory");
    return 0;
}

ProtocolServerCallback_S FakeBox_Table(void)
{
    ProtocolServerCallback_S stCb{};
    stCb.getDeviceid = Fake_GetDeviceid;
    stCb.getDeviceinfo = Fake_GetDeviceinfo;
    stCb.ongetId = Fake_GetId;
    stCb.ongetIrVoltage = Fake_GetVoltage;
    stCb.ongetDisplayMode = Fake_GetNothing;
    stCb.getEncodeparams = Fake_GetEncode;
    stCb.setEncodeparams = Fake_SetEncode;
    stCb.getDecodeparams = Fake_GetDecode;
    stCb.setDecodeparams = Fake_SetDecode;
    stCb.ongetNet = Fake_GetNet;
    stCb.onFactory = Fake_Factory;
    return stCb;
}
