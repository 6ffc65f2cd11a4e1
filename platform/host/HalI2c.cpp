// I2C stand-in: bus 1 reaches the simulated HDMI receiver; nothing else
// answers. Failures are printed as the board's transfer layer does.
#include "platform/HalI2c.h"
#include "platform/host/HostHdmiRx.h"

#include <cstdio>

s32 HAL_I2C_Read(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 *pu8Data, u32 u32Len)
{
    if (u32Bus != HOSTRX_BUS || HostHdmiRx_Read(u8Addr, u8Reg, pu8Data, u32Len) < 0) {
        printf("CMD_I2C_READ error!\n");
        return -1;
    }
    return 0;
}

s32 HAL_I2C_Write(u32 u32Bus, u8 u8Addr, u8 u8Reg, const u8 *pu8Data, u32 u32Len)
{
    if (u32Bus != HOSTRX_BUS || u32Len > HAL_I2C_MAX_LEN || HostHdmiRx_Write(u8Addr, u8Reg, pu8Data, u32Len) < 0) {
        printf("Unable to send data\n");
        return -1;
    }
    return 0;
}
