#include "board/Power.h"

#include "board/Gpio.h"
#include "core/Debug.h"

s32 MAIN_FPGA_POWER(void)
{
    if (GPIO_INIT(POWER_GPIO) < 0 || GPIO_OUTPUT(POWER_GPIO) != 0 || GPIO_SET(POWER_GPIO, 1) < 0)
        Debug_Log("[%s]: %s: power line %d not set\n", log_Time(), __func__, POWER_GPIO);
    return 0;
}
