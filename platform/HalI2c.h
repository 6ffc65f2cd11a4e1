// I2C register access. Board: the Linux I2C character device "/dev/i2c-%u"
// of the bus, opened on first use and kept open. Host: the simulated HDMI
// receiver chip of platform/host/HostHdmiRx.h answers on bus 1.
// Addresses are 7-bit bus addresses. A transfer is one register-address
// write followed by a read (combined), or one write of the register address
// and the data. No retry; a failure is printed on standard output.
#ifndef PLATFORM_HALI2C_H
#define PLATFORM_HALI2C_H

#include "core/Types.h"

#define HAL_I2C_MAX_LEN 256     // data bytes in one transfer

// Reads u32Len bytes from u8Reg on. 0, or -1 when the transfer failed.
s32 HAL_I2C_Read(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 *pu8Data, u32 u32Len);

// Writes u32Len bytes (at most HAL_I2C_MAX_LEN) from u8Reg on. 0, or -1.
s32 HAL_I2C_Write(u32 u32Bus, u8 u8Addr, u8 u8Reg, const u8 *pu8Data, u32 u32Len);

static inline s32 HAL_I2C_ReadByte(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 *pu8Val)
{
    return HAL_I2C_Read(u32Bus, u8Addr, u8Reg, pu8Val, 1);
}

static inline s32 HAL_I2C_WriteByte(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 u8Val)
{
    return HAL_I2C_Write(u32Bus, u8Addr, u8Reg, &u8Val, 1);
}

#endif
