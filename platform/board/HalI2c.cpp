// I2C through the Linux character device: select the slave, then one
// combined I2C_RDWR transfer per access.
#include "platform/HalI2c.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>

#define I2C_MAX_BUS 8

static std::mutex s_I2cMutex;              // guards s_as32Fd
static s32 s_as32Fd[I2C_MAX_BUS] = {-1, -1, -1, -1, -1, -1, -1, -1};

// Opens the bus on first use and selects the slave. The fd, or -1.
static s32 HalI2c_Open(u32 u32Bus, u8 u8Addr)
{
    if (u32Bus >= I2C_MAX_BUS)
        return -1;
    if (s_as32Fd[u32Bus] < 0) {
        char azDev[32];
        snprintf(azDev, sizeof(azDev), "/dev/i2c-%u", u32Bus);
        s_as32Fd[u32Bus] = open(azDev, O_RDWR | O_CLOEXEC);
        if (s_as32Fd[u32Bus] < 0) {
            printf("Open %s error!\n", azDev);
            return -1;
        }
    }
    if (ioctl(s_as32Fd[u32Bus], I2C_SLAVE, (unsigned long)u8Addr) < 0) {
        printf("CMD_SET_I2C_SLAVE error!\n");
        return -1;
    }
    return s_as32Fd[u32Bus];
}

s32 HAL_I2C_Read(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 *pu8Data, u32 u32Len)
{
    std::lock_guard<std::mutex> lock(s_I2cMutex);
    s32 s32Fd = HalI2c_Open(u32Bus, u8Addr);
    if (s32Fd < 0)
        return -1;
    struct i2c_msg astMsg[2] = {
        {u8Addr, 0, 1, &u8Reg},
        {u8Addr, I2C_M_RD, (u16)u32Len, pu8Data},
    };
    struct i2c_rdwr_ioctl_data stData = {astMsg, 2};
    if (ioctl(s32Fd, I2C_RDWR, &stData) != 2) {
        printf("CMD_I2C_READ error!\n");
        return -1;
    }
    return 0;
}

s32 HAL_I2C_Write(u32 u32Bus, u8 u8Addr, u8 u8Reg, const u8 *pu8Data, u32 u32Len)
{
    if (u32Len > HAL_I2C_MAX_LEN)
        return -1;
    std::lock_guard<std::mutex> lock(s_I2cMutex);
    s32 s32Fd = HalI2c_Open(u32Bus, u8Addr);
    if (s32Fd < 0)
        return -1;
    u8 au8Buf[HAL_I2C_MAX_LEN + 1];
    au8Buf[0] = u8Reg;
    memcpy(au8Buf + 1, pu8Data, u32Len);
    struct i2c_msg stMsg = {u8Addr, 0, (u16)(u32Len + 1), au8Buf};
    struct i2c_rdwr_ioctl_data stData = {&stMsg, 1};
    if (ioctl(s32Fd, I2C_RDWR, &stData) < 0) {
        printf("Unable to send data\n");
        return -1;
    }
    return 0;
}
