#include "app/Factory.h"

#include "app/Main.h"
#include "app/MainConfig.h"
#include "board/Lcd.h"
#include "board/Led.h"
#include "board/Wdt.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "media/AVSource.h"
#include "media/Edid.h"

s32 MAIN_FACTORY_RESET(void)
{
    Led_Set_value(3);
    Main_Set_LCD_String("888", 0);
    u8 au8Edid[EDID_LEN];
    s32 s32Ret = AVSource_getDefaultEdid(g_stMainServerAttr.hAVSource, au8Edid);
    if (s32Ret != 0)
        Debug_Log("[%s]: AVSource_getDefaultEdid failed with %#x!\n", log_Time(), s32Ret);
    else if ((s32Ret = AVSource_setEdid(g_stMainServerAttr.hAVSource, au8Edid)) != 0)
        Debug_Log("[%s]: AVSource_setEdid failed with %#x!\n", log_Time(), s32Ret);
    bConfigSaveBlock = 1;
    (void)MAIN_CONFIG_Reset();   // logs its own failure; the reboot follows regardless
    Main_Set_LCD_String(" . . .", 0);
    WdtReboot();
    return 0;
}
