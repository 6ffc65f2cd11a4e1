// The RTSP service: the list of services (one per RTSP port), their named
// media streams, and the sessions that play them over UDP, interleaved TCP
// or a stream's multicast group. Frames come in through each stream's two
// frame observers, which the stream registers with the wrapper's operation
// table. Lock order: service list, then stream, then session.
#ifndef RTSP_RTSPSERVICE_H
#define RTSP_RTSPSERVICE_H

#include "core/Types.h"
#include "rtsp/RtspTypes.h"

struct RtspService_S;

// Creates the service of the config's port and its listeners; ignores
// SIGPIPE for the whole process. 0, or -1 (also when a service of that
// port exists).
s32 RTSPSEVER_Create(RtspService_S **ppstService, const RtspServerConfig_S *pstConfig);
// Starts the one thread that serves every RTSP connection. 0 or -1.
s32 RTSPSEVER_Start(RtspService_S *pstService);
// Stops and joins that thread. 0 or -1.
s32 RTSPSEVER_Stop(RtspService_S *pstService);
// Closes every connection and session and frees the service; call it
// after RTSPSEVER_Stop. 0.
s32 RTSPSEVER_Destroy(RtspService_S *pstService);

// Publishes a stream under pszPath (a copy of the table is kept and its
// observers registered). 0 also when the path is published already; -1.
// u32Param is not read.
s32 RTSPSEVER_AddMediaStream(RtspService_S *pstService, const RtspMediaStreamAttr_S *pstAttr, const char *pszPath,
                             u32 u32Param);
// Ends every session of the stream and withdraws it. 0 (also for an
// unknown path) or -1.
s32 RTSPSEVER_RemoveMediaStream(RtspService_S *pstService, const char *pszPath);
// Ends every session of the stream as a stop does, the stream staying
// published: each UDP track gets an RTCP BYE and each player's control
// connection is closed once its queued data has gone out, so players see
// the end at once and may come back. 0 (also for an unknown path) or -1.
s32 RTSPSEVER_EndMediaStreamSessions(RtspService_S *pstService, const char *pszPath);
// Whether an input feeds the stream (a new stream has one). Without, its
// sessions end and SETUP and PLAY are answered 503 instead of a PLAY that
// never sends; DESCRIBE still describes it. 0, or -1 for an unknown path.
s32 RTSPSEVER_SetMediaStreamSignal(RtspService_S *pstService, const char *pszPath, u32 bSignal);
// The number of sessions of the stream, in any state. 0 or -1.
s32 RTSPSEVER_GetMediaStreamConnect(RtspService_S *pstService, const char *pszPath, u32 *pu32Count);
// Sets the text a request's User-Agent must contain (at most 127 bytes).
void RTSPSERVER_SetPermissionStr(const char *pszText);

#endif
