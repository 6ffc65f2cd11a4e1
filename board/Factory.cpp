#include "board/Factory.h"

#include "board/Lcd.h"
#include "board/Led.h"
#include "board/Wdt.h"
#include "config/Config.h"

s32 MAIN_FACTORY_RESET(void)
{
    Led_Set_value(3);
    Main_Set_LCD_String("888", 0);
    bConfigSaveBlock = 1;
    (void)MAIN_CONFIG_Reset();   // logs its own failure; the reboot follows regardless
    Main_Set_LCD_String(" . . .", 0);
    WdtReboot();
    return 0;
}
