// The EDID the box offers its source, as the control protocol, the web
// commands and the RS-232 commands change it: select a stored one by
// index, load one sent in a request, store a user EDID, copy a receiver's.
#include <cstring>
#include <unistd.h>

#include "app/Main.h"
#include "app/MainProtocolSlots.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "media/AVSource.h"
#include "media/Edid.h"
#include "protocol/Base64.h"
#include "protocol/ProtocolClient.h"

#define EDID_INDEX_MAX      8
#define EDID_LOAD_WAIT_US   (200 * 1000)
#define EDID_COPY_WAIT_MS   1000
#define EDID_TEXT_LEN       512    // the receiver's base64 text
#define EDID_USER_MAX       2

static DebugLimit_S s_stEdidLimit;   // index and EDID requests
static DebugLimit_S s_stCopyLimit;   // EDIDs from peers refused

// Peers send EDIDs and indexes at will, and one request writes up to forty
// lines: a request writes them, with those of what it calls, only when it
// has the log's turn; the others of the same second run quiet.
struct EdidLogTurn_S {
    EdidLogTurn_S() { Debug_SetQuiet(!Debug_LimitTake(&s_stEdidLimit)); }
    ~EdidLogTurn_S() { Debug_SetQuiet(false); }
};

// 16 bytes a line when the length allows, else byte by byte.
static void Main_Edid_Dump(const u8 *pu8Edid, s32 s32Len)
{
    if (s32Len % 16 == 0) {
        for (s32 i = 0; i < s32Len; i += 16) {
            const u8 *p = pu8Edid + i;
            Debug_Log("[%s]:  %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X "
                      "%02X %02X\n", log_Time(), p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8],
                      p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
        }
        return;
    }
    for (s32 i = 0; i < s32Len; i++) {
        Debug_Log("[%s]: 0x%02x,", log_Time(), pu8Edid[i]);
        if (i % 16 == 15)
            Debug_Log("[%s]: \n", log_Time());
    }
}

// The one rule for an EDID a peer sends or a receiver answers with: only a
// whole one (see Edid_IsWhole) is taken, into the 256 bytes at pu8Out,
// zeros after a lone base block. 0, or -1 (logged, pu8Out untouched).
static s32 Main_Edid_Take(const u8 *pu8Edid, s32 s32Len, u8 *pu8Out, const char *pszFunc)
{
    if (!Edid_IsWhole(pu8Edid, s32Len)) {
        Debug_LogLimited(&s_stCopyLimit, "[%s]: [%s]edid wrong, %d bytes\n", log_Time(), pszFunc, s32Len);
        return -1;
    }
    memset(pu8Out, 0, EDID_LEN);
    memcpy(pu8Out, pu8Edid, (size_t)s32Len);
    return 0;
}

// Steps shared by both index setters once the index is in range: the EDID
// of the index is loaded again also when it did not change.
static s32 Main_Edid_Select(s32 s32Index)
{
    bool bChanged = s32Index != g_stConfigAttr.stManual.s32Edid_index;
    if (bChanged)
        g_stConfigAttr.stManual.s32Edid_index = s32Index;
    (void)MAIN_SetEDID_preset(g_stMainServerAttr.hAVSource);   // logs its own failure
    if (bChanged)
        (void)MAIN_CONFIG_Update();   // fails only before the store exists
    return 0;
}

s32 Main_Protocolserver_onsetTxEdidIndex(void *pUser, s32 s32Index)
{
    (void)pUser;
    EdidLogTurn_S stTurn;
    if (s32Index < 0 || s32Index > EDID_INDEX_MAX) {
        Debug_Log("[%s]: Main_Protocolserver_onsetTxEdidIndex,out of range,s32Idx=%d\n", log_Time(),
                  s32Index);
        return 0;
    }
    return Main_Edid_Select(s32Index);
}

s32 Main_Protocolserver_onsetEdidIndex(void *pUser, s32 s32Index)
{
    (void)pUser;
    EdidLogTurn_S stTurn;
    Debug_Log("[%s]: Main_Protocolserver_onsetEdidIndex,s32Index=%d\n", log_Time(), s32Index);
    if (s32Index < 0 || s32Index > EDID_INDEX_MAX) {
        Debug_Log("[%s]: Main_Protocolserver_onsetEdidIndex,out of range,s32Index=%d\n", log_Time(),
                  s32Index);
        return 0;
    }
    return Main_Edid_Select(s32Index);
}

s32 Main_Protocolserver_onsetEdid(void *pUser, const u8 *pu8Edid, s32 s32Len)
{
    (void)pUser;
    EdidLogTurn_S stTurn;
    Debug_Log("[%s]: %s\n", log_Time(), __func__);
    u8 au8Edid[EDID_LEN];
    if (Main_Edid_Take(pu8Edid, s32Len, au8Edid, __func__) < 0)
        return -1;
    Debug_Log("[%s]: edid before filte4K\n", log_Time());
    Main_Edid_Dump(au8Edid, s32Len);
    EDID_Filte4k(au8Edid);
    Debug_Log("[%s]: edid after filte4K\n", log_Time());
    Main_Edid_Dump(au8Edid, s32Len);
    usleep(EDID_LOAD_WAIT_US);
    s32 s32Ret = AVSource_setEdid(g_stMainServerAttr.hAVSource, au8Edid);
    if (s32Ret != 0)
        Debug_Log("[%s]: AVSource_setEdid failed with %#x!\n", log_Time(), s32Ret);
    (void)setEdid(au8Edid);   // always 0
    g_stConfigAttr.stManual.s32Edid_index = EDID_INDEX_COPY;
    (void)MAIN_CONFIG_Update();
    return 0;
}

s32 Main_Protocolserver_onsetUserEdid(void *pUser, const u8 *pu8Edid, s32 s32Len, s32 s32Index)
{
    (void)pUser;
    EdidLogTurn_S stTurn;
    Debug_Log("[%s]: set usr edid,usr_index=%d\n", log_Time(), s32Index);
    if (s32Index < 0 || s32Index > EDID_USER_MAX) {
        Debug_Log("[%s]: out of usr_index range\n", log_Time());
        return 0;
    }
    u8 au8Edid[EDID_LEN];
    if (Main_Edid_Take(pu8Edid, s32Len, au8Edid, __func__) < 0)
        return -1;
    Debug_Log("[%s]: before filter 4k\n", log_Time());
    Main_Edid_Dump(au8Edid, s32Len);
    EDID_Filte4k(au8Edid);
    Debug_Log("[%s]: after filter 4k\n", log_Time());
    Main_Edid_Dump(au8Edid, s32Len);
    s32 s32InUse = g_stConfigAttr.stManual.s32Edid_index;
    if (s32Index == 1) {
        (void)setUser1Edid(au8Edid);
        if (s32InUse == EDID_INDEX_USER1)
            (void)MAIN_SetEDID_preset(g_stMainServerAttr.hAVSource);
    } else if (s32Index == 2) {
        (void)setUser2Edid(au8Edid);
        if (s32InUse == EDID_INDEX_USER2)
            (void)MAIN_SetEDID_preset(g_stMainServerAttr.hAVSource);
    }
    return 0;
}

s32 Main_Protocolserver_oncopyEdid(void *pUser, s32 s32RxId)
{
    (void)pUser;
    ProtocolClient_S *pstClient = MAIN_Protocolclient_Get();
    if (pstClient == nullptr) {
        Debug_Log("[%s]: %s: no protocol client\n", log_Time(), __func__);
        return -1;
    }
    char azText[EDID_TEXT_LEN] = {};
    if (Protocol_client_getDecodeEdid(pstClient, s32RxId, EDID_COPY_WAIT_MS, azText, sizeof(azText)) < 0) {
        Debug_Log("[%s]: Protocol_client_getDecodeEdid err!\n", log_Time());
        return -1;
    }
    u8 au8Raw[EDID_LEN];
    s32 s32Len = base64_check_qelto(azText, (u32)strlen(azText));
    if (s32Len <= 0 || s32Len > EDID_LEN) {
        Debug_LogLimited(&s_stCopyLimit, "[%s]: [%s]edid of %d bytes refused\n", log_Time(), __func__, s32Len);
        return -1;
    }
    (void)base64_decode_qelto(au8Raw, azText, (u32)strlen(azText));
    u8 au8Edid[EDID_LEN];
    if (Main_Edid_Take(au8Raw, s32Len, au8Edid, __func__) < 0)
        return -1;
    Debug_Log("[%s]: [%s]copy edid\n", log_Time(), __func__);
    EDID_Filte4k(au8Edid);
    s32 s32Ret = AVSource_setEdid(g_stMainServerAttr.hAVSource, au8Edid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: AVSource_setEdid failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    (void)setEdid(au8Edid);
    g_stConfigAttr.stManual.s32Edid_index = EDID_INDEX_COPY;
    (void)MAIN_CONFIG_Update();
    return 0;
}
