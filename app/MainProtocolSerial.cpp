// Callbacks of the control protocol for the local serial port: its
// settings (stored in the settings record, applied by the relay thread,
// which reopens the port) and bytes to write to it (through its send queue).

#include "app/Main.h"
#include "app/MainProtocolCb.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "extension/Rs232.h"
#include "extension/Soip.h"

#define MAIN_SERIAL_BAUD   115200   // what a rate the port cannot take becomes
#define MAIN_SERIAL_BITS   8
#define MAIN_SERIAL_STOP   1
#define MAIN_SERIAL_LOG    64       // bytes of the data shown in the log

// Parity: 1 and 2 swap between the protocol's coding and the stored one.
static s32 Main_SerialParity(s32 s32Parity)
{
    return s32Parity == 1 ? 2 : s32Parity == 2 ? 1 : s32Parity;
}

// Writes a field when it differs and notes the change.
static void Main_SerialPut(u32 *pu32Field, u32 u32Value, bool *pbChange)
{
    if (*pu32Field != u32Value) {
        *pu32Field = u32Value;
        *pbChange = true;
    }
}

// Stored settings the port cannot take are replaced by its defaults (a
// change); then the UART setting block follows the stored settings.
static bool Main_SerialApply(ConfigSerialAttr_S *pstStored, UartSetAttr_S *pstSet)
{
    bool bChange = false;
    s32 s32Idx = MAIN_Uart_BaudIndex(pstStored->u32Baudrate);
    if (s32Idx < 0) {
        pstStored->u32Baudrate = MAIN_SERIAL_BAUD;
        s32Idx = MAIN_Uart_BaudIndex(MAIN_SERIAL_BAUD);
        bChange = true;
    }
    Main_SerialPut(&pstSet->u32BaudIdx, (u32)s32Idx, &bChange);
    if (pstStored->u32Databits < 5 || pstStored->u32Databits > 8) {
        pstStored->u32Databits = MAIN_SERIAL_BITS;
        bChange = true;
    }
    Main_SerialPut(&pstSet->u32Databits, pstStored->u32Databits, &bChange);
    // A parity the UART has no setting for would leave the port closed.
    if (pstStored->u32Parity > 2) {
        pstStored->u32Parity = 0;
        bChange = true;
    }
    Main_SerialPut(&pstSet->u32Parity, pstStored->u32Parity, &bChange);
    if (pstStored->u32Stopbits != 1 && pstStored->u32Stopbits != 2) {
        pstStored->u32Stopbits = MAIN_SERIAL_STOP;
        bChange = true;
    }
    Main_SerialPut(&pstSet->u32StopBits, pstStored->u32Stopbits == 2 ? 2 : 0, &bChange);
    return bChange;
}

s32 Main_Protocolserver_ongetSerialparams(void *pvCtx, ProtocolSerialParams_S *pstSerial)
{
    (void)pvCtx;
    const ConfigSerialAttr_S &stStored = g_stConfigAttr.stSerialAttr;
    pstSerial->s32Baudrate = (s32)stStored.u32Baudrate;
    pstSerial->s32Databits = (s32)stStored.u32Databits;
    pstSerial->s32Parity = Main_SerialParity((s32)stStored.u32Parity);
    pstSerial->s32Stopbits = (s32)stStored.u32Stopbits;
    return 0;
}

s32 Main_Protocolserver_onsetSerialparams(void *pvCtx, const ProtocolSerialParams_S *pstSerial)
{
    static DebugLimit_S s_stLimit;
    static DebugLimit_S s_stRestartLimit;
    (void)pvCtx;
    ConfigSerialAttr_S *pstStored = &g_stConfigAttr.stSerialAttr;
    Debug_LogLimited(&s_stLimit,
                     "[%s]: [%s,%d]: serial->Baudrate=%d,serial->Databits=%d,serial->parity=%d,"
                     "serial->StopBits=%d\n", log_Time(), __func__, __LINE__,
                     pstSerial->s32Baudrate, pstSerial->s32Databits, pstSerial->s32Parity,
                     pstSerial->s32Stopbits);
    bool bChange = false;
    Main_SerialPut(&pstStored->u32Baudrate, (u32)pstSerial->s32Baudrate, &bChange);
    Main_SerialPut(&pstStored->u32Databits, (u32)pstSerial->s32Databits, &bChange);
    Main_SerialPut(&pstStored->u32Parity, (u32)Main_SerialParity(pstSerial->s32Parity), &bChange);
    Main_SerialPut(&pstStored->u32Stopbits, (u32)pstSerial->s32Stopbits, &bChange);
    if (Main_SerialApply(pstStored, &g_stMainServerAttr.stHalAttr.stUart.stSetAttr))
        bChange = true;
    if (!bChange)
        return 0;
    Debug_LogLimited(&s_stRestartLimit, "[%s]: [%s]update config and restart uart\n", log_Time(),
                     __func__);
    g_stUartServer.bReopen = 1;
    (void)MAIN_CONFIG_Update();   // logged there; the next change asks again
    return 0;
}

s32 Main_Protocolserver_onrecvSerialData(void *pvCtx, const u8 *pu8Data, u32 u32Len)
{
    static DebugLimit_S s_stLimit;
    (void)pvCtx;
    char azShown[MAIN_SERIAL_LOG + 1];
    Debug_Printable(azShown, sizeof(azShown), pu8Data, u32Len);
    Debug_LogLimited(&s_stLimit, "[%s]: UART recv %s\n", log_Time(), azShown);
    // Queued for the port's sender: this thread answers the next request at
    // once, whatever the port waits for. Refusals are logged there.
    return MAIN_Rs232_SendData(&g_stMainServerAttr.stHalAttr.stUart, pu8Data, u32Len);
}
