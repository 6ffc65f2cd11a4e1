// Register access of the receiver driver: the I2C transfers, the register
// maps and the bank switch, with the driver's lock and its sleeps.
#include "media/HdmiRxPriv.h"

#include "platform/HalI2c.h"

#include <cstdarg>
#include <cstdio>
#include <time.h>

static std::mutex s_I2cMutex;           // one transfer at a time

std::recursive_mutex &hdmirx_lock(void)
{
    static std::recursive_mutex s_Lock;
    return s_Lock;
}

void mutex_init(HdmiRxAttr_S *pstRx)
{
    (void)pstRx;
}

void mutex_destroy(HdmiRxAttr_S *pstRx)
{
    (void)pstRx;
}

void mutex_lock(HdmiRxAttr_S *pstRx)
{
    (void)pstRx;
}

void mutex_unlock(HdmiRxAttr_S *pstRx)
{
    (void)pstRx;
}

void dev_err(const char *pszFmt, ...)
{
    char az[128];
    va_list ap;
    va_start(ap, pszFmt);
    vsnprintf(az, sizeof(az), pszFmt, ap);
    va_end(ap);
    printf("\n\r%s", az);
}

void mDelay(u32 u32Ms)
{
    struct timespec stTs = {(time_t)(u32Ms / 1000), (long)(u32Ms % 1000) * 1000000L};
    while (nanosleep(&stTs, &stTs) < 0) {
    }
}

void mSleep(u32 u32Ms)
{
    mDelay(u32Ms);
}

s32 I2c_Read(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 *pu8Val)
{
    std::lock_guard<std::mutex> lock(s_I2cMutex);
    if (HAL_I2C_ReadByte(u32Bus, (u8)(u8Addr >> 1), u8Reg, pu8Val) < 0) {
        printf("i2c address:0x%02x Read ERROR Read Reg[0x%02x]= 0x%02x\n", u8Addr, u8Reg, *pu8Val);
        return 0;
    }
    return 1;
}

s32 I2c_Write(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 u8Val)
{
    std::lock_guard<std::mutex> lock(s_I2cMutex);
    if (HAL_I2C_WriteByte(u32Bus, (u8)(u8Addr >> 1), u8Reg, u8Val) < 0) {
        printf("i2c address:0x%02x Write error Reg[0x%02x]= 0x%02x\n", u8Addr, u8Reg, u8Val);
        return 0;
    }
    return 1;
}

// A failed read leaves *pu8Val at 0: "nothing pending" for the interrupt
// registers, never a value that nothing set.
s32 regmap_read(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 *pu8Val)
{
    *pu8Val = 0;
    if (!I2c_Read(pstMap->u32Bus, pstMap->u8Addr, u8Reg, pu8Val)) {
        *pu8Val = 0;
        printf("ERROR: i2c_read %02x %02x\r\n", pstMap->u8Addr, u8Reg);
        return -1;
    }
    return 0;
}

s32 regmap_write(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 u8Val)
{
    if (!I2c_Write(pstMap->u32Bus, pstMap->u8Addr, u8Reg, u8Val)) {
        printf("ERROR: i2c_write %02x %02x %02x\r\n", pstMap->u8Addr, u8Reg, u8Val);
        return -1;
    }
    return 0;
}

s32 regmap_update_bits(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 u8Mask, u8 u8Val)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    u8 u8Old;
    if (regmap_read(pstMap, u8Reg, &u8Old) < 0)
        return -1;
    return regmap_write(pstMap, u8Reg, (u8)((u8Old & ~u8Mask) | (u8Val & u8Mask)));
}

s32 regmap_bulk_read(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 *pu8Buf, u32 u32Count)
{
    for (u32 i = 0; i < u32Count; i++) {
        pu8Buf[i] = 0;
        if (!I2c_Read(pstMap->u32Bus, pstMap->u8Addr, (u8)(u8Reg + i), &pu8Buf[i])) {
            pu8Buf[i] = 0;
            printf("ERROR: i2c_read %02x %02x %02x\r\n", pstMap->u8Addr, u8Reg, u32Count);
            return -1;
        }
    }
    return 0;
}

s32 regmap_bulk_write(const HdmiRxRegmap_S *pstMap, u8 u8Reg, const u8 *pu8Buf, u32 u32Count)
{
    for (u32 i = 0; i < u32Count; i++) {
        if (!I2c_Write(pstMap->u32Bus, pstMap->u8Addr, (u8)(u8Reg + i), pu8Buf[i])) {
            printf("ERROR: i2c_write %02x %02x %02x\r\n", pstMap->u8Addr, u8Reg, u32Count);
            return -1;
        }
    }
    return 0;
}

static u8 hdmirx_map_read(const HdmiRxRegmap_S *pstMap, u8 u8Reg)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    u8 u8Val;
    (void)regmap_read(pstMap, u8Reg, &u8Val);    // printed; 0 on failure
    return u8Val;
}

static s32 hdmirx_map_write(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 u8Val)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    return regmap_write(pstMap, u8Reg, u8Val);
}

u8 hdmi_read(HdmiRxAttr_S *pstRx, u8 u8Reg)
{
    return hdmirx_map_read(&pstRx->stHdmiMap, u8Reg);
}

s32 hdmi_write(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Val)
{
    return hdmirx_map_write(&pstRx->stHdmiMap, u8Reg, u8Val);
}

s32 hdmi_set(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Mask, u8 u8Val)
{
    return regmap_update_bits(&pstRx->stHdmiMap, u8Reg, u8Mask, u8Val);
}

void hdmi_chgbank(HdmiRxAttr_S *pstRx, u8 u8Bank)
{
    (void)hdmi_set(pstRx, 0x0F, 0x07, u8Bank);   // printed; the next accesses fail alike
}

s32 hdmi_edid_write(HdmiRxAttr_S *pstRx, u8 u8Offset, const u8 *pu8Buf, u32 u32Len)
{
    return regmap_bulk_write(&pstRx->stEdidMap, u8Offset, pu8Buf, u32Len);
}

u8 mipi_tx_read(HdmiRxAttr_S *pstRx, u8 u8Reg)
{
    return hdmirx_map_read(&pstRx->stMipiMap, u8Reg);
}

s32 mipi_tx_write(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Val)
{
    return hdmirx_map_write(&pstRx->stMipiMap, u8Reg, u8Val);
}

s32 mipi_tx_set_bits(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Mask, u8 u8Val)
{
    return regmap_update_bits(&pstRx->stMipiMap, u8Reg, u8Mask, u8Val);
}
