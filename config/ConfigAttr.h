// The persisted settings record and the stored EDID texts. Each persisted
// field has one key in "/etc/app.ini". Setters change a field directly and
// then call MAIN_CONFIG_Update (config/Config.h) to have it saved.
// The layout is also the raw image of the old parameter block in flash,
// so field order and widths are fixed (checked below).
#ifndef CONFIG_CONFIGATTR_H
#define CONFIG_CONFIGATTR_H

#include <cstddef>

#include "core/Types.h"

#define CONFIG_EDID_TEXT_LEN   516      // 512 hex digits of one 256-byte EDID, NUL
#define CONFIG_IP_LEN          32
#define CONFIG_ID_MAX          762
#define CONFIG_ROUTE_CLEARED   "000000000000"

struct ConfigDevAttr_S {
    char azDeviceName[128];
    char azDeviceId[32];      // host ID from the MAC, rewritten at every start
    char azAlias[128];
};

struct ConfigStreamAttr_S {
    u32 u32Enctype;           // 0 H.264, 1 H.265
    u32 u32Encres;
    u32 u32Width;             // pixels
    u32 u32Height;            // pixels
    u32 u32Fps;
    u32 u32Ratecontrol;       // 1 CBR, 2 VBR
    u32 u32Videobitrate;
    u32 u32Audioinput;
    u32 u32Audiocodec;        // 0 PCM, 1 AAC
    u32 u32Audiofreq;         // Hz
    u32 u32Audiobitrate;      // bit/s
};

struct ConfigNetAttr_S {
    s32 bHdcpServer;          // not persisted
    s32 enDHCP;               // 1 DHCP, 0 static
    char azIp[CONFIG_IP_LEN];
    char azNetmask[CONFIG_IP_LEN];
    char azGateway[CONFIG_IP_LEN];
    u32 u32HttpPort;
};

struct ConfigSerialAttr_S {
    u32 u32Baudrate;          // bit/s
    u32 u32Databits;
    u32 u32Parity;            // 0 none, 1 odd, 2 even
    u32 u32Stopbits;
};

// A routing entry: the transmitter whose data this box carries; not persisted.
struct ConfigRoute_S {
    s32 s32Enable;            // 1 set, 0 cleared
    char azTxId[32];
};

struct ConfigManualAttr_S {
    s32 s32ID;                // device ID, 0..CONFIG_ID_MAX
    s32 s32Edid_index;        // EDID preset 0..8
    s32 s32IrVoltage;
    s32 s32LcdDisplayMode;
    s32 s32LedDisplayMode;
};

struct ConfigMiscAttr_S {
    s32 s32HdcpMode;
    s32 s32Web;
    s32 s32Https;
    s32 s32Ssh;
    s32 s32Telnet;
    s32 s32Dot1x;
    s32 s32Ports;             // master switch of SSH and 802.1X
    s32 s32TelnetPort;
    char azDot1xUser[64];
    char azDot1xPwd[64];
    char azWebUser[64];
    char azWebPsw[64];
    s32 s32StreamDbg;
    s32 s32FileDebug;         // DebugLogMode_E
    s32 s32BtnMode;
};

struct ConfigAttr_S {
    ConfigDevAttr_S stDevAttr;
    ConfigStreamAttr_S stMainAttr;
    ConfigStreamAttr_S stSubAttr;
    ConfigNetAttr_S stNetAttr;
    ConfigSerialAttr_S stSerialAttr;
    ConfigRoute_S stSerialMatrix;
    ConfigRoute_S stIrMatrix;
    ConfigManualAttr_S stManual;
    ConfigMiscAttr_S stMisc;
    u8 au8Reserve[724];       // zero in a fresh record
    u32 u32Crc;               // CRC-32 of the bytes before it, in the old block only
};

static_assert(offsetof(ConfigAttr_S, stMainAttr) == 288, "record layout");
static_assert(offsetof(ConfigAttr_S, stSubAttr) == 332, "record layout");
static_assert(offsetof(ConfigAttr_S, stNetAttr.enDHCP) == 380, "record layout");
static_assert(offsetof(ConfigAttr_S, stNetAttr.u32HttpPort) == 480, "record layout");
static_assert(offsetof(ConfigAttr_S, stSerialMatrix) == 500, "record layout");
static_assert(offsetof(ConfigAttr_S, stIrMatrix) == 536, "record layout");
static_assert(offsetof(ConfigAttr_S, stManual) == 572, "record layout");
static_assert(offsetof(ConfigAttr_S, stMisc) == 592, "record layout");
static_assert(offsetof(ConfigAttr_S, stMisc.azDot1xUser) == 624, "record layout");
static_assert(offsetof(ConfigAttr_S, stMisc.azWebPsw) == 816, "record layout");
static_assert(offsetof(ConfigAttr_S, stMisc.s32BtnMode) == 888, "record layout");
static_assert(offsetof(ConfigAttr_S, au8Reserve) == 892, "record layout");
static_assert(offsetof(ConfigAttr_S, u32Crc) == 1616, "record layout");
static_assert(sizeof(ConfigAttr_S) == 1620, "record layout");

struct ConfigEdidText_S {
    char azRxEdid[CONFIG_EDID_TEXT_LEN];      // copied from a receiver
    char azUser1Edid[CONFIG_EDID_TEXT_LEN];
    char azUser2Edid[CONFIG_EDID_TEXT_LEN];
};

// A numbered web account, section "user%d".
struct WebAccount_S {
    char azUsername[32];
    char azPasswd[32];
};

// Whole words and NUL-terminated texts, read and written by many threads
// without a lock; the save reads them on the save timer's thread.
extern ConfigAttr_S g_stConfigAttr;
extern ConfigEdidText_S g_stConfigAttrNew;

// The link-local default address "169.254.x.y" from the last two bytes of
// a MAC text "xx:xx:xx:xx:xx:xx" into pszOut (CONFIG_IP_LEN). Returns 0.
s32 getDefaultIp(char *pszOut, const char *pszMac);

#endif
