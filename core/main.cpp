#include "core/Debug.h"

int main(void)
{
    Debug_Log("[%s]: start\n", log_Time());
    return 0;
}
