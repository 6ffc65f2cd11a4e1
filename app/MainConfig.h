// Loading the configuration at start-up, and its reset, for the box's MAC
// in the runtime record. Results are 0, or -1 (logged).
#ifndef APP_MAINCONFIG_H
#define APP_MAINCONFIG_H

#include "config/Config.h"

s32 MAIN_CONFIG_Init(void);                      // -1 only when the save timer fails
// The record and EDID texts from the loaded file; the three stored EDIDs
// of the runtime record from those texts.
s32 MAIN_CONFIG_Recv(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid);
s32 MAIN_CONFIG_Reset(void);                     // the default file; the record stays

#endif
