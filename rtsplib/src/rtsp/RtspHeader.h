// Parsers of the RTSP header fields the server reads: Session, Transport
// and Range.
#ifndef RTSPLIB_RTSP_RTSPHEADER_H
#define RTSPLIB_RTSP_RTSPHEADER_H

#include "core/Types.h"

#define RTSP_SESSION_ID_LEN   63
#define RTSP_TRANSPORT_MAX    16    // specifications read from one Transport field
#define RTSP_ADDRESS_LEN      16    // dotted IPv4 text with terminator

struct RtspHeaderSession_S {
    char azSession[RTSP_SESSION_ID_LEN + 1];
    u32 u32Timeout;                 // seconds; 0 when not given
};

enum RtspTransport_E {
    RTSP_TRANSPORT_RTP_UDP = 1,     // "RTP/AVP", "RTP/AVP/UDP"
    RTSP_TRANSPORT_RTP_TCP = 2,     // "RTP/AVP/TCP"
    RTSP_TRANSPORT_RAW     = 3,     // "RAW/RAW/UDP"
};

enum RtspTransportMode_E {
    RTSP_TRANSPORT_PLAY   = 1,
    RTSP_TRANSPORT_RECORD = 2,
};

struct RtspHeaderTransport_S {
    s32 enTransport;                // RtspTransport_E
    bool bMulticast;                // unicast unless "multicast" is given
    char azDestination[RTSP_ADDRESS_LEN];   // IPv4 literal, empty when not given
    char azSource[RTSP_ADDRESS_LEN];
    s32 enMode;                     // RtspTransportMode_E, PLAY when not given
    bool bAppend;
    s32 s32Ttl;                     // 0..255, -1 when not given
    u32 u32Layers;                  // 0 when not given
    bool bSsrc;
    u32 u32Ssrc;
    u16 au16ClientPort[2];          // RTP, RTCP; 0 when not given
    u16 au16ServerPort[2];
    u16 au16Port[2];                // multicast "port="
    s32 as32Interleaved[2];         // channels 0..255, -1 when not given
    void *pvOwner;                  // the connection whose request carried it
};

enum RtspRange_E {
    RTSP_RANGE_NONE = 0,
    RTSP_RANGE_SMPTE,               // "smpte=", 30 frames/s
    RTSP_RANGE_SMPTE_30,            // "smpte-30-drop="
    RTSP_RANGE_SMPTE_25,            // "smpte-25="
    RTSP_RANGE_NPT,
    RTSP_RANGE_CLOCK,
};

enum RtspRangeTime_E {
    RTSP_RANGE_TIME_NORMAL = 0,
    RTSP_RANGE_TIME_NOW,            // npt "now"
    RTSP_RANGE_TIME_NOVALUE,        // open side
};

struct RtspHeaderRange_S {
    s32 enType;                     // RtspRange_E
    s32 enFrom, enTo;               // RtspRangeTime_E
    u64 u64From, u64To;             // ms from the start (npt, smpte) or since 1970 (clock)
    u64 u64Time;                    // "time=", ms since 1970; 0 when not given
};

// Each returns 0, or -1 for a field it cannot read.
s32 rtsp_header_session(const char *pszField, RtspHeaderSession_S *pstSession);
s32 rtsp_header_range(const char *pszField, RtspHeaderRange_S *pstRange);
// Reads up to u32Max comma-separated specifications; the number read, or
// -1 when one of them is malformed. Parameters not understood are ignored.
s32 rtsp_header_transport(const char *pszField, RtspHeaderTransport_S *pastTransport, u32 u32Max);

#endif
