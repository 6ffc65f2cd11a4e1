#include "extension/Rs232.h"

#include <cctype>
#include <cstring>

#include "extension/UartQueue.h"
#include "net/NetIf.h"
#include "upgrade/Identity.h"

#define RS232_MAC_SEPS "-,:"

static UartQueue_S s_stSendQueue = {"MAIN_Rs232_SendData"};

s32 MAIN_Rs232_SendData(UartAttr_S *pstUart, const u8 *pu8Data, u32 u32Len)
{
    // The sender would lose them: the caller hears of it instead.
    if (MAIN_Uart_CheckOpen(pstUart) < 0)
        return -1;
    return UartQueue_Put(&s_stSendQueue, pu8Data, u32Len);
}

s32 MAIN_Rs232Send_Start(UartAttr_S *pstUart)
{
    return UartQueue_Start(&s_stSendQueue, pstUart);
}

void MAIN_Rs232Send_Stop(void)
{
    UartQueue_Stop(&s_stSendQueue);
}

void MAIN_Uart_Cb(const u8 *pu8Data, u32 u32Len)
{
    (void)pu8Data;
    (void)u32Len;
}

s32 parse_mac(const char **ppszText, char *azMac)
{
    const char *psz = *ppszText;
    while (*psz == ' ' || *psz == '\t')
        psz++;
    u32 u32Len = 0;
    while (u32Len < MAC_TEXT_LEN && isprint((unsigned char)psz[u32Len])) {
        azMac[u32Len] = psz[u32Len];
        u32Len++;
    }
    azMac[u32Len] = '\0';
    *ppszText = psz + u32Len;
    return Mac_IsForm(azMac, RS232_MAC_SEPS) ? 0 : -1;
}

void MAIN_RS232_NormMac(char *pszMac)
{
    for (char *psz = pszMac; *psz != '\0'; psz++)
        *psz = strchr(RS232_MAC_SEPS, *psz) != nullptr ? ':' : (char)tolower((unsigned char)*psz);
}

s32 MAIN_RS232_Set_MAC(char *pszMac)
{
    MAIN_RS232_NormMac(pszMac);
    return setMac(pszMac);
}
