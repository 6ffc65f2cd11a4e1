#include "rtsplib/src/rtsp/RtspHeader.h"

#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <string_view>
#include <strings.h>

#include "rtsplib/include/Time64.h"
#include "rtsplib/src/rtsp/RtspParser.h"

typedef std::string_view Sv;

#define HDR_MAX_SECONDS 1000000000ULL   // bound of npt and smpte times

struct HdrTransportParam_S {
    const char *pszName;
    s32 (*pfnParse)(Sv svValue, RtspHeaderTransport_S *pstTransport);
};

static Sv Hdr_Trim(Sv sv)
{
    while (!sv.empty() && (sv.front() == ' ' || sv.front() == '\t'))
        sv.remove_prefix(1);
    while (!sv.empty() && (sv.back() == ' ' || sv.back() == '\t'))
        sv.remove_suffix(1);
    return sv;
}

static bool Hdr_Equal(Sv sv, const char *pszWord)
{
    return sv.size() == strlen(pszWord) && strncasecmp(sv.data(), pszWord, sv.size()) == 0;
}

// Splits sv at the first cSep: the part before it (trimmed) is returned,
// sv keeps the rest after it.
static Sv Hdr_Next(Sv *psv, char cSep)
{
    size_t pos = psv->find(cSep);
    Sv svHead = Hdr_Trim(psv->substr(0, pos));
    *psv = pos == Sv::npos ? Sv() : psv->substr(pos + 1);
    return svHead;
}

static bool Hdr_Number(Sv sv, u64 u64Max, u64 *pu64Value)
{
    return rtsp_parse_number(sv.data(), (u32)sv.size(), u64Max, pu64Value) == 0;
}

// "a-b" or "a" (then b = a + 1), both within u32Min..u32Max.
static bool Hdr_Pair(Sv sv, u32 u32Min, u32 u32Max, u32 au32Pair[2])
{
    size_t pos = sv.find('-');
    u64 u64A, u64B;
    if (!Hdr_Number(sv.substr(0, pos), u32Max, &u64A) || u64A < u32Min)
        return false;
    if (pos == Sv::npos)
        u64B = u64A + 1;
    else if (!Hdr_Number(sv.substr(pos + 1), u32Max, &u64B))
        return false;
    if (u64B < u32Min || u64B > u32Max)
        return false;
    au32Pair[0] = (u32)u64A;
    au32Pair[1] = (u32)u64B;
    return true;
}

static s32 Hdr_Ports(Sv sv, u16 au16Port[2])
{
    u32 au32[2];
    if (!Hdr_Pair(sv, 1, 65535, au32))
        return -1;
    au16Port[0] = (u16)au32[0];
    au16Port[1] = (u16)au32[1];
    return 0;
}

static s32 Hdr_Ipv4(Sv sv, char azOut[RTSP_ADDRESS_LEN])
{
    char az[RTSP_ADDRESS_LEN];
    struct in_addr stAddr;
    if (sv.empty() || sv.size() >= sizeof(az))
        return -1;
    memcpy(az, sv.data(), sv.size());
    az[sv.size()] = '\0';
    if (inet_pton(AF_INET, az, &stAddr) != 1)
        return -1;
    memcpy(azOut, az, sizeof(az));
    return 0;
}

static s32 Tp_Unicast(Sv, RtspHeaderTransport_S *pst) { pst->bMulticast = false; return 0; }
static s32 Tp_Multicast(Sv, RtspHeaderTransport_S *pst) { pst->bMulticast = true; return 0; }
static s32 Tp_Append(Sv, RtspHeaderTransport_S *pst) { pst->bAppend = true; return 0; }
// A bare "destination" or "source" names no address: nothing to keep.
static s32 Tp_Destination(Sv sv, RtspHeaderTransport_S *pst) { return sv.empty() ? 0 : Hdr_Ipv4(sv, pst->azDestination); }
static s32 Tp_Source(Sv sv, RtspHeaderTransport_S *pst) { return sv.empty() ? 0 : Hdr_Ipv4(sv, pst->azSource); }
static s32 Tp_ClientPort(Sv sv, RtspHeaderTransport_S *pst) { return Hdr_Ports(sv, pst->au16ClientPort); }
static s32 Tp_ServerPort(Sv sv, RtspHeaderTransport_S *pst) { return Hdr_Ports(sv, pst->au16ServerPort); }
static s32 Tp_Port(Sv sv, RtspHeaderTransport_S *pst) { return Hdr_Ports(sv, pst->au16Port); }

static s32 Tp_Ttl(Sv sv, RtspHeaderTransport_S *pst)
{
    u64 u64Ttl;
    if (!Hdr_Number(sv, 255, &u64Ttl))
        return -1;
    pst->s32Ttl = (s32)u64Ttl;
    return 0;
}

static s32 Tp_Layers(Sv sv, RtspHeaderTransport_S *pst)
{
    u64 u64Layers;
    if (!Hdr_Number(sv, 255, &u64Layers) || u64Layers == 0)
        return -1;
    pst->u32Layers = (u32)u64Layers;
    return 0;
}

static s32 Tp_Interleaved(Sv sv, RtspHeaderTransport_S *pst)
{
    u32 au32[2];
    if (!Hdr_Pair(sv, 0, 255, au32))
        return -1;
    pst->as32Interleaved[0] = (s32)au32[0];
    pst->as32Interleaved[1] = (s32)au32[1];
    return 0;
}

static s32 Tp_Ssrc(Sv sv, RtspHeaderTransport_S *pst)
{
    u32 u32Ssrc = 0;
    if (sv.empty() || sv.size() > 8)
        return -1;
    for (char c : sv) {
        u32 u32Digit;
        if (c >= '0' && c <= '9')
            u32Digit = (u32)(c - '0');
        else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
            u32Digit = (u32)((c | 0x20) - 'a' + 10);
        else
            return -1;
        u32Ssrc = u32Ssrc << 4 | u32Digit;
    }
    pst->bSsrc = true;
    pst->u32Ssrc = u32Ssrc;
    return 0;
}

static s32 Tp_Mode(Sv sv, RtspHeaderTransport_S *pst)
{
    if (sv.size() >= 2 && sv.front() == '"' && sv.back() == '"')
        sv = sv.substr(1, sv.size() - 2);
    if (Hdr_Equal(sv, "PLAY"))
        pst->enMode = RTSP_TRANSPORT_PLAY;
    else if (Hdr_Equal(sv, "RECORD"))
        pst->enMode = RTSP_TRANSPORT_RECORD;
    return 0;
}

static const HdrTransportParam_S s_astTransportParam[] = {
    {"unicast", Tp_Unicast},         {"multicast", Tp_Multicast},     {"append", Tp_Append},
    {"destination", Tp_Destination}, {"source", Tp_Source},           {"client_port", Tp_ClientPort},
    {"server_port", Tp_ServerPort},  {"port", Tp_Port},               {"ttl", Tp_Ttl},
    {"layers", Tp_Layers},           {"interleaved", Tp_Interleaved}, {"ssrc", Tp_Ssrc},
    {"mode", Tp_Mode},
};

// One transport of the list: protocol, then ";"-separated parameters.
static s32 Hdr_TransportSpec(Sv sv, RtspHeaderTransport_S *pst)
{
    memset(pst, 0, sizeof(*pst));
    pst->enMode = RTSP_TRANSPORT_PLAY;
    pst->s32Ttl = -1;
    pst->as32Interleaved[0] = pst->as32Interleaved[1] = -1;
    Sv svProto = Hdr_Next(&sv, ';');
    if (Hdr_Equal(svProto, "RTP/AVP") || Hdr_Equal(svProto, "RTP/AVP/UDP"))
        pst->enTransport = RTSP_TRANSPORT_RTP_UDP;
    else if (Hdr_Equal(svProto, "RTP/AVP/TCP"))
        pst->enTransport = RTSP_TRANSPORT_RTP_TCP;
    else if (Hdr_Equal(svProto, "RAW/RAW/UDP"))
        pst->enTransport = RTSP_TRANSPORT_RAW;
    else
        return -1;
    while (!sv.empty()) {
        Sv svValue = Hdr_Next(&sv, ';');
        Sv svName = Hdr_Next(&svValue, '=');
        for (const HdrTransportParam_S &stParam : s_astTransportParam) {
            if (Hdr_Equal(svName, stParam.pszName) && stParam.pfnParse(Hdr_Trim(svValue), pst) < 0)
                return -1;
        }
    }
    return 0;
}

s32 rtsp_header_transport(const char *pszField, RtspHeaderTransport_S *pastTransport, u32 u32Max)
{
    Sv sv(pszField);
    u32 u32Num = 0;
    while (u32Num < u32Max && !Hdr_Trim(sv).empty()) {
        if (Hdr_TransportSpec(Hdr_Next(&sv, ','), &pastTransport[u32Num]) < 0)
            return -1;
        u32Num++;
    }
    return u32Num > 0 ? (s32)u32Num : -1;
}

s32 rtsp_header_session(const char *pszField, RtspHeaderSession_S *pstSession)
{
    Sv sv(pszField);
    Sv svId = Hdr_Next(&sv, ';');
    if (svId.empty() || svId.size() > RTSP_SESSION_ID_LEN)
        return -1;
    memcpy(pstSession->azSession, svId.data(), svId.size());
    pstSession->azSession[svId.size()] = '\0';
    pstSession->u32Timeout = 0;
    while (!sv.empty()) {
        Sv svValue = Hdr_Next(&sv, ';');
        Sv svName = Hdr_Next(&svValue, '=');
        u64 u64Timeout;
        if (!Hdr_Equal(svName, "timeout"))
            continue;
        if (!Hdr_Number(Hdr_Trim(svValue), 0xFFFFFFFFULL, &u64Timeout))
            return -1;
        pstSession->u32Timeout = (u32)u64Timeout;
    }
    return 0;
}

// Seconds with an optional fraction, to ms.
static bool Hdr_Seconds(Sv sv, u64 *pu64Ms)
{
    size_t pos = sv.find('.');
    u64 u64Sec, u64Frac = 0;
    if (!Hdr_Number(sv.substr(0, pos), HDR_MAX_SECONDS, &u64Sec))
        return false;
    if (pos != Sv::npos) {
        Sv svFrac = sv.substr(pos + 1, 3);
        if (!svFrac.empty() && !Hdr_Number(svFrac, 999, &u64Frac))
            return false;
        for (size_t i = svFrac.size(); i < 3; i++)
            u64Frac *= 10;
        for (char c : sv.substr(pos + 1))
            if (c < '0' || c > '9')
                return false;
    }
    *pu64Ms = u64Sec * 1000 + u64Frac;
    return true;
}

static bool Hdr_NptTime(Sv sv, s32 *penType, u64 *pu64Ms)
{
    *penType = sv.empty() ? RTSP_RANGE_TIME_NOVALUE : Hdr_Equal(sv, "now") ? RTSP_RANGE_TIME_NOW
                                                                          : RTSP_RANGE_TIME_NORMAL;
    *pu64Ms = 0;
    return *penType != RTSP_RANGE_TIME_NORMAL || Hdr_Seconds(sv, pu64Ms);
}

// hh:mm:ss[:ff] at u32Fps frames per second.
static bool Hdr_SmpteTime(Sv sv, u32 u32Fps, s32 *penType, u64 *pu64Ms)
{
    u64 au64[4] = {0, 0, 0, 0};
    static const u64 s_au64Max[4] = {HDR_MAX_SECONDS / 3600, 59, 59, 29};
    u32 n = 0;
    *penType = sv.empty() ? RTSP_RANGE_TIME_NOVALUE : RTSP_RANGE_TIME_NORMAL;
    *pu64Ms = 0;
    if (sv.empty())
        return true;
    while (n < 4 && !sv.empty()) {
        if (!Hdr_Number(Hdr_Next(&sv, ':'), s_au64Max[n], &au64[n]))
            return false;
        n++;
    }
    if (n < 3 || !sv.empty())
        return false;
    *pu64Ms = ((au64[0] * 60 + au64[1]) * 60 + au64[2]) * 1000 + au64[3] * 1000 / u32Fps;
    return true;
}

// YYYYMMDDThhmmss[.fraction]Z
static bool Hdr_ClockTime(Sv sv, s32 *penType, u64 *pu64Ms)
{
    static const u32 s_au32Len[] = {4, 2, 2, 0, 2, 2};
    u64 au64[6];
    u64 u64Ms = 0;
    *penType = sv.empty() ? RTSP_RANGE_TIME_NOVALUE : RTSP_RANGE_TIME_NORMAL;
    *pu64Ms = 0;
    if (sv.empty())
        return true;
    if (sv.size() < 16 || sv[8] != 'T' || sv.back() != 'Z')
        return false;
    size_t pos = 0;
    for (u32 i = 0; i < ARRAY_SIZE(s_au32Len); i++) {
        if (s_au32Len[i] == 0) {
            pos++;   // the "T"
            continue;
        }
        if (!Hdr_Number(sv.substr(pos, s_au32Len[i]), 9999, &au64[i]))
            return false;
        pos += s_au32Len[i];
    }
    if (!Hdr_Seconds(sv.substr(pos, sv.size() - 1 - pos), &u64Ms) || u64Ms >= 61000)
        return false;
    struct tm stTm;
    memset(&stTm, 0, sizeof(stTm));
    stTm.tm_year = (s32)au64[0] - 1900;
    stTm.tm_mon = (s32)au64[1] - 1;
    stTm.tm_mday = (s32)au64[2];
    stTm.tm_hour = (s32)au64[4];
    stTm.tm_min = (s32)au64[5];
    if (au64[0] < 1970 || stTm.tm_mon < 0 || stTm.tm_mon > 11 || stTm.tm_mday < 1 || stTm.tm_mday > 31 ||
        stTm.tm_hour > 23 || stTm.tm_min > 59)
        return false;
    *pu64Ms = time64_from(&stTm, 0) + u64Ms;
    return true;
}

s32 rtsp_header_range(const char *pszField, RtspHeaderRange_S *pstRange)
{
    static const struct {
        const char *pszName;
        s32 enType;
        u32 u32Fps;
    } s_astUnit[] = {
        {"npt", RTSP_RANGE_NPT, 0},          {"smpte", RTSP_RANGE_SMPTE, 30},
        {"smpte-30-drop", RTSP_RANGE_SMPTE_30, 30}, {"smpte-25", RTSP_RANGE_SMPTE_25, 25},
        {"clock", RTSP_RANGE_CLOCK, 0},
    };
    memset(pstRange, 0, sizeof(*pstRange));
    Sv sv(pszField);
    Sv svSpec = Hdr_Next(&sv, ';');
    Sv svUnit = Hdr_Next(&svSpec, '=');
    size_t dash = svSpec.find('-');
    if (dash == Sv::npos)
        return -1;
    Sv svFrom = Hdr_Trim(svSpec.substr(0, dash)), svTo = Hdr_Trim(svSpec.substr(dash + 1));
    bool bOk = false;
    for (const auto &stUnit : s_astUnit) {
        if (!Hdr_Equal(svUnit, stUnit.pszName))
            continue;
        pstRange->enType = stUnit.enType;
        if (stUnit.enType == RTSP_RANGE_NPT)
            bOk = Hdr_NptTime(svFrom, &pstRange->enFrom, &pstRange->u64From) &&
                  Hdr_NptTime(svTo, &pstRange->enTo, &pstRange->u64To);
        else if (stUnit.enType == RTSP_RANGE_CLOCK)
            bOk = Hdr_ClockTime(svFrom, &pstRange->enFrom, &pstRange->u64From) &&
                  Hdr_ClockTime(svTo, &pstRange->enTo, &pstRange->u64To);
        else
            bOk = Hdr_SmpteTime(svFrom, stUnit.u32Fps, &pstRange->enFrom, &pstRange->u64From) &&
                  Hdr_SmpteTime(svTo, stUnit.u32Fps, &pstRange->enTo, &pstRange->u64To);
    }
    if (!bOk || (pstRange->enFrom == RTSP_RANGE_TIME_NOVALUE && pstRange->enTo == RTSP_RANGE_TIME_NOVALUE))
        return -1;
    while (!sv.empty()) {
        Sv svValue = Hdr_Next(&sv, ';');
        Sv svName = Hdr_Next(&svValue, '=');
        s32 enType;
        if (Hdr_Equal(svName, "time") && !Hdr_ClockTime(Hdr_Trim(svValue), &enType, &pstRange->u64Time))
            return -1;
    }
    return 0;
}
