#include "board/Gpio.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

static std::mutex s_GpioMutex;           // guards s_as32GpioFd
static s32 s_as32GpioFd[GPIO_MAX] = {};  // value descriptor + 1; 0 = not open

static s32 Gpio_Fd(u32 u32Gpio)
{
    if (u32Gpio >= GPIO_MAX)
        return -1;
    std::lock_guard<std::mutex> lock(s_GpioMutex);
    return s_as32GpioFd[u32Gpio] - 1;
}

s32 GPIO_INIT(s32 s32Gpio)
{
    char az[64];

    if (s32Gpio < 0 || s32Gpio >= GPIO_MAX)
        return -1;
    std::lock_guard<std::mutex> lock(s_GpioMutex);
    if (s_as32GpioFd[s32Gpio] > 0)
        return 0;
    snprintf(az, sizeof(az), "/sys/class/gpio/gpio%d", s32Gpio);
    if (access(az, F_OK) != 0) {
        snprintf(az, sizeof(az), "echo %d > /sys/class/gpio/export", s32Gpio);
        (void)system(az);   // a failed export shows as the failed open below
    }
    snprintf(az, sizeof(az), "/sys/class/gpio/gpio%d/value", s32Gpio);
    s32 s32Fd = open(az, O_RDWR | O_SYNC | O_CLOEXEC);
    if (s32Fd < 0) {
        printf("open gpio%d failed\n", s32Gpio);
        return -1;
    }
    s_as32GpioFd[s32Gpio] = s32Fd + 1;
    return 0;
}

s32 GPIO_OUTPUT(s32 s32Gpio)
{
    char az[64];
    if (s32Gpio < 0 || s32Gpio >= GPIO_MAX)
        return -1;
    snprintf(az, sizeof(az), "echo out > /sys/class/gpio/gpio%d/direction", s32Gpio);
    return system(az);
}

s32 GPIO_SET(u32 u32Gpio, s32 s32Value)
{
    s32 s32Fd = Gpio_Fd(u32Gpio);
    char az[4] = {};
    if (s32Fd < 0)
        return -1;
    snprintf(az, sizeof(az), "%d", s32Value);
    return (s32)pwrite(s32Fd, az, sizeof(az), 0);
}

s32 GPIO_GET(u32 u32Gpio, s32 *ps32Value)
{
    s32 s32Fd = Gpio_Fd(u32Gpio);
    char c;
    if (s32Fd < 0 || pread(s32Fd, &c, 1, 0) != 1)
        return -1;
    *ps32Value = c == '1';
    return 0;
}
