// The parameter block of older firmware in flash: a raw image of the
// settings record with its check word, the web account and the three EDIDs.
// Read once when "/etc/app.ini" is missing, then cleared.
#ifndef CONFIG_CONFIGOLD_H
#define CONFIG_CONFIGOLD_H

#include <cstddef>

#include "config/ConfigAttr.h"
#include "core/Types.h"

#define CONFIG_OLD_OFFSET       0x1ff0000
#define CONFIG_OLD_LEN          3308
#define CONFIG_OLD_CRC_LEN      1616     // bytes of the record image before u32Crc
#define CONFIG_OLD_CLEARED_CRC  255      // check word of a cleared block

struct ConfigOldBlock_S {
    ConfigAttr_S stAttr;        // raw record image; u32Crc covers the bytes before it
    char azWebUser[64];         // replaces the image's web user
    char azWebPsw[64];          // replaces the image's web password
    u8 au8CopyEdid[256];
    u8 au8User1Edid[256];
    u8 au8User2Edid[256];
    u8 au8Reserve[792];
};

static_assert(offsetof(ConfigOldBlock_S, azWebUser) == 1620, "old block layout");
static_assert(offsetof(ConfigOldBlock_S, azWebPsw) == 1684, "old block layout");
static_assert(offsetof(ConfigOldBlock_S, au8CopyEdid) == 1748, "old block layout");
static_assert(offsetof(ConfigOldBlock_S, au8User1Edid) == 2004, "old block layout");
static_assert(offsetof(ConfigOldBlock_S, au8User2Edid) == 2260, "old block layout");
static_assert(sizeof(ConfigOldBlock_S) == CONFIG_OLD_LEN, "old block layout");
static_assert(offsetof(ConfigAttr_S, u32Crc) == CONFIG_OLD_CRC_LEN, "old block layout");

// Fills attr and edid from a block whose check word matches; -1 (nothing
// written) for a wrong check word or a flash failure. Takes the flash lock.
s32 Config_get_old(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid);
// Zeroes the record image and sets its check word to CONFIG_OLD_CLEARED_CRC,
// so that Config_get_old fails from then on. 0, or -1 on a flash failure.
s32 Config_clear_old(void);

#endif
