#include "protocol/ProtocolDispatch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The box's own identity from slot 0.
struct DispatchSelf_S {
    char azType[PROTOCOL_TEXT_LEN];
    char azDeviceId[PROTOCOL_TEXT_LEN];
    s32 s32Id;
    char azAllType[PROTOCOL_TEXT_LEN + 8];   // "All_" and the type; empty without a type
};

static bool Dispatch_IsNumber(const char *pszId)
{
    size_t u32Len = strlen(pszId);
    if (u32Len == 0 || u32Len > 3)
        return false;
    for (size_t i = 0; i < u32Len; i++)
        if (pszId[i] < '0' || pszId[i] > '9')
            return false;
    return true;
}

static bool Dispatch_HasPrefix(const char *pszText, const char *pszPrefix)
{
    return pszPrefix[0] != '\0' && strncmp(pszText, pszPrefix, strlen(pszPrefix)) == 0;
}

// True when one entry names this box: by its device id (as a prefix),
// "All", "All_" and its type, or its numeric id in one to three digits.
static bool Dispatch_ForMe(const DispatchSelf_S *pstSelf, const ProtocolRequestHead_S *pstHead)
{
    for (s32 i = 0; i < pstHead->s32DevCount; i++) {
        const char *pszId = pstHead->pstDevice[i].azId;
        if (Dispatch_HasPrefix(pszId, pstSelf->azDeviceId) || strcmp(pszId, "All") == 0 ||
            Dispatch_HasPrefix(pszId, pstSelf->azAllType) ||
            (Dispatch_IsNumber(pszId) && atoi(pszId) == pstSelf->s32Id))
            return true;
    }
    return false;
}

static const ProtocolCommand_S *Dispatch_Find(const char *pszCmd)
{
    for (u32 i = 0; i < g_u32ProtocolCommandCount; i++) {
        const ProtocolCommand_S *pstRow = &g_astProtocolCommands[i];
        bool bMatch = pstRow->enMatch == PROTOCOL_MATCH_EQUALS
                          ? strcmp(pszCmd, pstRow->pszPattern) == 0
                          : strstr(pszCmd, pstRow->pszPattern) != nullptr;
        if (bMatch)
            return pstRow;
    }
    return nullptr;
}

// Runs a request that passed the filters; 0 for one the box does not answer.
static s32 Dispatch_Run(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                        const char *pszRequest, char *pszReply, ProtocolReplyTo_E *penReplyTo)
{
    const ProtocolCommand_S *pstRow = Dispatch_Find(pstHead->azCmd);
    if (pstRow == nullptr)
        return 0;
    s32 s32Ret = pstRow->pfnHead != nullptr
                     ? pstRow->pfnHead(pstServer, pstHead, pszReply)
                     : pstRow->pfnBody(pstServer, pstHead, pszRequest, pszReply);
    if (pstRow->enReplyTo == PROTOCOL_REPLY_NONE)
        return 0;
    *penReplyTo = pstRow->enReplyTo;
    return s32Ret;
}

s32 protocol_server_dispatch(ProtocolServer_S *pstServer, const char *pszRequest, char *pszReply,
                             ProtocolReplyTo_E *penReplyTo)
{
    *penReplyTo = PROTOCOL_REPLY_NONE;
    ProtocolRequestHead_S stHead{};
    if (request_head_parse(&stHead, pszRequest) < 0)
        return -1;
    if (pstServer->stCallback.getDeviceid == nullptr) {
        request_head_free(&stHead);
        return -2;
    }
    DispatchSelf_S stSelf{};
    (void)pstServer->stCallback.getDeviceid(pstServer->pUser, stSelf.azType, stSelf.azDeviceId,
                                            &stSelf.s32Id);   // what it leaves empty matches nothing
    stSelf.azType[sizeof(stSelf.azType) - 1] = '\0';
    stSelf.azDeviceId[sizeof(stSelf.azDeviceId) - 1] = '\0';
    if (stSelf.azType[0] != '\0')
        snprintf(stSelf.azAllType, sizeof(stSelf.azAllType), "All_%s", stSelf.azType);

    s32 s32Ret = 0;
    bool bOwn = stSelf.azDeviceId[0] != '\0' && strcmp(stHead.azHostId, stSelf.azDeviceId) == 0;
    if (!bOwn && Dispatch_ForMe(&stSelf, &stHead))
        s32Ret = Dispatch_Run(pstServer, &stHead, pszRequest, pszReply, penReplyTo);
    request_head_free(&stHead);
    return s32Ret;
}
