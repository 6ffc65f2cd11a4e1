#include <cstdio>

#include "app/Main.h"
#include "core/Debug.h"
#include "upgrade/Identity.h"
#include "upgrade/Image.h"

s32 MAIN_Device_Info(DevInfo_S *pstDevInfo)
{
    snprintf(pstDevInfo->azModel, sizeof(pstDevInfo->azModel), "%s", IMAGE_MODEL);
    snprintf(pstDevInfo->azDevType, sizeof(pstDevInfo->azDevType), "TX");
    (void)getVersion(pstDevInfo->azVersion);   // each leaves a text, empty when unknown
    (void)getMac(pstDevInfo->azMac);
    (void)getSn(pstDevInfo->azSerialNum);
    Debug_Log("[%s]: %s: get verison %s mac %s, serialNum %s\n", log_Time(), __func__,
              pstDevInfo->azVersion, pstDevInfo->azMac, pstDevInfo->azSerialNum);
    return 0;
}
