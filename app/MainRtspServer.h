// The box's two streams on the RTSP wrapper: their start and stop from the
// network record, the stream-information answers from the media
// attributes, and the multicast groups from the device ID.
#ifndef APP_MAINRTSPSERVER_H
#define APP_MAINRTSPSERVER_H

#include <cstddef>

#include "net/NetConfig.h"
#include "rtsp/RtspServer.h"

// Application glue on the RTSP block of the network record (bRtspStart,
// hRtspServer, the stream descriptors). 0, or -1 unless said.
s32 MAIN_RtspServer_Init(NetServerConfig_S *pstNet);
s32 MAIN_RtspServer_deInit(NetServerConfig_S *pstNet);
// -1 while the wrapper is down; a stream the wrapper refuses is logged and gives 0.
s32 MAIN_RtspServer_StartStream(NetServerConfig_S *pstNet, RtspStreamDesc_S *pstDesc);
s32 MAIN_RtspServer_StopStream(NetServerConfig_S *pstNet, RtspStreamDesc_S *pstDesc);
// Both streams with or without an input behind them.
s32 MAIN_RtspServer_SetSignal(NetServerConfig_S *pstNet, u32 bSignal);
// The number of sessions of the stream; 0 while it is not published.
s32 MAIN_RtspServer_GetStreamInfo(NetServerConfig_S *pstNet, RtspStreamDesc_S *pstDesc);
// Both streams stopped and published again, for a new device ID; under
// g_MediaMutex.
s32 MAIN_RTSP_Restart(void);
// The stream's multicast group as dotted text into pszOut; always 0.
s32 MAIN_get_main_RTSP_multicast_ip(s32 s32DeviceId, char *pszOut, size_t sizeOut);
s32 MAIN_get_sub_RTSP_multicast_ip(s32 s32DeviceId, char *pszOut, size_t sizeOut);
RtspServerStreamInfoProc MAIN_Rtspserver_StreamInfo;

#endif
