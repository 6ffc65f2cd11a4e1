// The table through which the protocol server reaches the box, and the
// records that cross it. Every callback gets the user context given at
// attach first and returns 0 or more for success, a negative value for
// failure. A null slot is a command the box does not serve.
#ifndef PROTOCOL_PROTOCOLCALLBACK_H
#define PROTOCOL_PROTOCOLCALLBACK_H

#include "core/Types.h"

#define PROTOCOL_TEXT_LEN       32
#define PROTOCOL_URL_LEN        128
#define PROTOCOL_MIP_LEN        64
#define PROTOCOL_STREAM_MAX     16
#define PROTOCOL_CALLBACK_COUNT 54
#define PROTOCOL_NO_TX          "000000000000"   // a route without a transmitter

// The device description; the fields after azTx describe a receiver's
// display and stay 0 on a transmitter.
struct ProtocolDeviceInfo_S {
    char azDeviceId[PROTOCOL_TEXT_LEN];
    char azAlias[PROTOCOL_TEXT_LEN];
    char azChip[PROTOCOL_TEXT_LEN];      // chip and board model
    s32 s32Id;                           // numeric id
    char azDevType[PROTOCOL_TEXT_LEN];   // device kind, "encoder" on a transmitter
    char azStatus[PROTOCOL_TEXT_LEN];    // capture state as a decimal text
    char azVersion[PROTOCOL_TEXT_LEN];
    u32 au32Up[3];                       // uptime: days, hours, minutes
    s32 s32Voltage;                      // IR voltage setting
    s32 s32Lcd;                          // display mode
    s32 s32Led;                          // power-LED mode
    s32 s32SerialBr;
    s32 s32SerialBs;
    s32 s32SerialPa;                     // stored parity code: 0 none, 1 odd, 2 even
    s32 s32SerialSb;
    s32 s32Edid;                         // EDID index
    s32 s32AudioInput;
    char azTx[PROTOCOL_TEXT_LEN];        // source transmitter (receivers only)
    s32 s32Scale;
    s32 s32VideoMode;
    s32 s32Rotate;
    s32 s32Button;
    s32 s32Ir;
    s32 s32Osd;
    s32 s32VideoOutput;
    s32 s32VideoMute;
    s32 s32VideoPause;
    s32 s32AudioFormat;
};

struct ProtocolEncodeParams_S {
    s32 enEncType;                       // 1 H.264, 2 H.265
    u32 u32EncRes;                       // encoder resolution code
    u32 u32Fps;
    s32 enRateControl;                   // 1 CBR, 2 VBR
    u32 u32Bitrate;
    u32 u32AudioInput;
    s32 enAudioCodec;                    // 1 AAC, other values PCM
    u32 u32AudioFreq;                    // Hz
    u32 u32AudioBitrate;
    char azVideoResStatus[PROTOCOL_TEXT_LEN];   // input timing
    char azHdcpStatus[PROTOCOL_TEXT_LEN];
    s32 s32Voltage;
    s32 s32Lcd;
    s32 s32Led;
};

// Receiver picture settings; a transmitter keeps them at 0.
struct ProtocolDecodeParams_S {
    s32 s32Luma;
    s32 s32Contrast;
    s32 s32Hue;
    s32 s32Saturation;
    s32 s32VideoFormat;
    char azVideoResStatus[PROTOCOL_TEXT_LEN];
    char azHdcpStatus[PROTOCOL_TEXT_LEN];
};

struct ProtocolNetParams_S {
    u8 bHdcpServer;
    u8 bStatic;                          // 1 static address, 0 DHCP
    char azDevAddr[PROTOCOL_TEXT_LEN];
    char azDevNetmask[PROTOCOL_TEXT_LEN];
    char azDevGateway[PROTOCOL_TEXT_LEN];
    char azDevMac[PROTOCOL_TEXT_LEN];
    s32 s32HttpPort;
};

struct ProtocolSerialParams_S {
    s32 s32Baudrate;
    s32 s32Databits;
    s32 s32Parity;                       // protocol code: 0 none, 1 even, 2 odd
    s32 s32Stopbits;
};

struct ProtocolMatrix_S {
    u8 bEnable;                          // 1 when the route is set
    char azTxId[PROTOCOL_TEXT_LEN];      // source transmitter, PROTOCOL_NO_TX for none
};

struct ProtocolFirmwareChunk_S {
    s32 s32Count;                        // chunk number
    s32 s32Length;                       // bytes at pu8Data
    u8 *pu8Data;                         // the caller's, for the call only
};

struct ProtocolStreamEntry_S {
    u8 bStatus;                          // 1 while the stream runs
    s32 s32Width;
    s32 s32Height;
    s32 s32Vsync;
    s32 s32Async;
    char azUrl[PROTOCOL_URL_LEN];        // RTSP address
    s32 s32Hdcp;
    char azRtspMip[PROTOCOL_MIP_LEN];    // multicast address
};

struct ProtocolStreamInfo_S {
    s32 s32Count;                        // entries filled
    s32 s32Id;
    ProtocolStreamEntry_S astStream[PROTOCOL_STREAM_MAX];
};

typedef s32 ProtocolGetValue_F(void *pUser, s32 *ps32Value);
typedef s32 ProtocolSetValue_F(void *pUser, s32 s32Value);
typedef s32 ProtocolAction_F(void *pUser);
typedef s32 ProtocolGetMatrix_F(void *pUser, ProtocolMatrix_S *pstMatrix);
typedef s32 ProtocolSetMatrix_F(void *pUser, const ProtocolMatrix_S *pstMatrix);
typedef s32 ProtocolSendData_F(void *pUser, const u8 *pu8Data, u32 u32Len);

// The slots in their fixed order; the comment is the slot number.
struct ProtocolServerCallback_S {
    s32 (*getDeviceid)(void *pUser, char *pszType, char *pszDeviceId, s32 *ps32Id);      // 0
    s32 (*getDeviceinfo)(void *pUser, ProtocolDeviceInfo_S *pstInfo);                    // 1
    s32 (*ongetAlias)(void *pUser, char *pszAlias);                                      // 2
    s32 (*onsetAlias)(void *pUser, const char *pszAlias);                                // 3
    ProtocolAction_F *onremoveAlias;                                                     // 4
    ProtocolGetValue_F *ongetId;                                                         // 5
    ProtocolSetValue_F *onsetId;                                                         // 6
    ProtocolGetValue_F *ongetTxEdidIndex;                                                // 7
    ProtocolSetValue_F *onsetTxEdidIndex;                                                // 8
    ProtocolGetValue_F *ongetIrVoltage;                                                  // 9
    ProtocolSetValue_F *onsetIrVoltage;                                                  // 10
    ProtocolGetValue_F *ongetDisplayMode;                                                // 11
    ProtocolSetValue_F *onsetDisplayMode;                                                // 12
    ProtocolGetValue_F *ongetPwrLedMode;                                                 // 13
    ProtocolSetValue_F *onsetPwrLedMode;                                                 // 14
    ProtocolGetValue_F *ongetHdcpMode;                                                   // 15
    ProtocolSetValue_F *onsetHdcpMode;                                                   // 16
    ProtocolGetValue_F *ongetStreamDbg;                                                  // 17
    ProtocolSetValue_F *onsetStreamDbg;                                                  // 18
    ProtocolSetValue_F *onsetTxAudioFormat;                                              // 19
    ProtocolGetValue_F *ongetButtonsMode;                                                // 20
    ProtocolSetValue_F *onsetButtonsMode;                                                // 21
    ProtocolGetValue_F *ongetIrMode;                                                     // 22
    ProtocolSetValue_F *onsetIrMode;                                                     // 23
    s32 (*getEncodeparams)(void *pUser, ProtocolEncodeParams_S *pstParams);             // 24
    s32 (*setEncodeparams)(void *pUser, const ProtocolEncodeParams_S *pstParams);       // 25
    s32 (*getDecodeparams)(void *pUser, ProtocolDecodeParams_S *pstParams);             // 26
    s32 (*setDecodeparams)(void *pUser, const ProtocolDecodeParams_S *pstParams);       // 27
    s32 (*ongetNet)(void *pUser, ProtocolNetParams_S *pstNet);                           // 28
    s32 (*onsetNet)(void *pUser, const ProtocolNetParams_S *pstNet);                     // 29
    ProtocolGetMatrix_F *ongetMatrix;                                                    // 30
    ProtocolSetMatrix_F *onsetMatrix;                                                    // 31
    ProtocolAction_F *onclearMatrix;                                                     // 32
    s32 (*ongetSerialparams)(void *pUser, ProtocolSerialParams_S *pstParams);           // 33
    s32 (*onsetSerialparams)(void *pUser, const ProtocolSerialParams_S *pstParams);     // 34
    ProtocolGetMatrix_F *ongetSerialMatrix;                                              // 35
    ProtocolSetMatrix_F *onsetSerialMatrix;                                              // 36
    ProtocolAction_F *onclearSerialMatrix;                                               // 37
    ProtocolSendData_F *onrecvSerialData;                                                // 38
    ProtocolGetMatrix_F *ongetIrMatrix;                                                  // 39
    ProtocolSetMatrix_F *onsetIrMatrix;                                                  // 40
    ProtocolAction_F *onclearIrMatrix;                                                   // 41
    ProtocolSendData_F *onrecvIrData;                                                    // 42
    s32 (*ongetStream)(void *pUser, ProtocolStreamInfo_S *pstInfo);                      // 43
    s32 (*onupdateFirmware)(void *pUser, ProtocolFirmwareChunk_S *pstChunk);             // 44
    s32 (*onsetEdid)(void *pUser, const u8 *pu8Edid, s32 s32Len);                        // 45
    s32 (*onsetUserEdid)(void *pUser, const u8 *pu8Edid, s32 s32Len, s32 s32Index);      // 46
    ProtocolSetValue_F *onsetEdidIndex;                                                  // 47
    ProtocolSetValue_F *oncopyEdid;                                                      // 48
    ProtocolAction_F *ongetIframe;                                                       // 49
    ProtocolAction_F *reserved;                                                          // 50, always null
    ProtocolAction_F *onshowMe;                                                          // 51
    ProtocolAction_F *onReboot;                                                          // 52
    ProtocolAction_F *onFactory;                                                         // 53
};

static_assert(sizeof(ProtocolServerCallback_S) == PROTOCOL_CALLBACK_COUNT * sizeof(void *),
              "one pointer per slot");

#endif
