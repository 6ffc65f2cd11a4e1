#include "extension/TcpServer.h"

#include <cstring>

#include "core/Debug.h"
#include "extension/Soip.h"
#include "upgrade/Upgrade.h"

static SoipServerAttr_S s_stTcpServer;
static u8 s_au8Pending[TCP_HEAD_LEN + TCP_PAYLOAD_MAX + SOIP_BUF_LEN];
static DebugLimit_S s_stPacketLimit;   // stray bytes and packets: peers send them at will

static u16 TcpServer_Word(const u8 *pu8)
{
    return (u16)(pu8[0] << 8 | pu8[1]);
}

u32 TcpServer_Parse(const u8 *pu8Buf, u32 u32Len, TcpPacket_S *pstPacket)
{
    memset(pstPacket, 0, sizeof(*pstPacket));
    if (u32Len == 0)
        return 0;
    if (pu8Buf[0] != TCP_MARK) {
        const void *pvMark = memchr(pu8Buf, TCP_MARK, u32Len);
        return pvMark != nullptr ? (u32)((const u8 *)pvMark - pu8Buf) : u32Len;
    }
    if (u32Len < TCP_HEAD_LEN)
        return 0;
    u32 u32Payload = TcpServer_Word(pu8Buf + 2);
    if (u32Len - TCP_HEAD_LEN < u32Payload)
        return 0;
    pstPacket->bPacket = true;
    pstPacket->u8Type = pu8Buf[1];
    pstPacket->u16Len = (u16)u32Payload;
    pstPacket->pu8Payload = pu8Buf + TCP_HEAD_LEN;
    return TCP_HEAD_LEN + u32Payload;
}

s32 TcpServer_Handle(const TcpPacket_S *pstPacket, u64 u64Owner)
{
    if (pstPacket->u8Type != TCP_TYPE_UPGRADE) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: type %#x ignored\n", log_Time(), __func__,
                         pstPacket->u8Type);
        return 0;
    }
    if (pstPacket->u16Len < TCP_UPGRADE_HEAD_LEN) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: upgrade packet of %u bytes\n", log_Time(),
                         __func__, pstPacket->u16Len);
        return -1;
    }
    const u8 *pu8 = pstPacket->pu8Payload;
    UpdatePacket_S stUpdate;
    memset(&stUpdate, 0, sizeof(stUpdate));
    stUpdate.u16Mark = TcpServer_Word(pu8);
    stUpdate.u8Flag = pu8[2];
    stUpdate.u16Num = TcpServer_Word(pu8 + 3);
    stUpdate.u32Len = pstPacket->u16Len - TCP_UPGRADE_HEAD_LEN;
    stUpdate.pu8Data = pu8 + TCP_UPGRADE_HEAD_LEN;
    return ImageRecv_From(u64Owner, &stUpdate);
}

// The owner word of the server's current connection.
static u64 TcpServer_Owner(SoipServerAttr_S *pstServer)
{
    return (u64)pstServer->u16Port << 32 | pstServer->u32Clients;
}

// A connection that sends no more cannot finish its upload.
static void TcpServer_ClientDone(SoipServerAttr_S *pstServer)
{
    ImageRecv_Abandon(TcpServer_Owner(pstServer));
}

static bool TcpServer_KeepClient(SoipServerAttr_S *pstServer)
{
    return ImageRecv_Owns(TcpServer_Owner(pstServer));
}

static u32 TcpServer_Frame(SoipServerAttr_S *pstServer, const u8 *pu8Buf, u32 u32Len)
{
    TcpPacket_S stPacket;
    u32 u32Used = TcpServer_Parse(pu8Buf, u32Len, &stPacket);
    if (u32Used > 0 && !stPacket.bPacket)
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: %u bytes outside a packet\n", log_Time(),
                         __func__, u32Used);
    if (!stPacket.bPacket)
        return u32Used;
    s32 s32Ret = TcpServer_Handle(&stPacket, TcpServer_Owner(pstServer));
    if (stPacket.u8Type == TCP_TYPE_UPGRADE) {
        const u8 au8Ack[] = {TCP_MARK, TCP_TYPE_UPGRADE_ACK, 0, 1, (u8)(s32Ret == 0 ? 0 : 1)};
        Soip_SendClient(pstServer, au8Ack, sizeof(au8Ack));
    }
    return u32Used;
}

s32 MAIN_TcpServer_start(u16 u16Port)
{
    Soip_Init(&s_stTcpServer, "MAIN_TcpServer_start", u16Port);
    s_stTcpServer.pfnFrame = TcpServer_Frame;
    s_stTcpServer.pfnClientDone = TcpServer_ClientDone;
    s_stTcpServer.pfnKeepClient = TcpServer_KeepClient;
    s_stTcpServer.pu8Pending = s_au8Pending;
    return Soip_Start(&s_stTcpServer);
}

void MAIN_TcpServer_stop(void)
{
    Soip_Stop(&s_stTcpServer);
}
