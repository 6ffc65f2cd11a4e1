// The upgrade flow: upload packets gathered into a file, and the upgrade
// thread that writes a file checked beforehand. Both end in a reboot
// through the watchdog once the flash is written.
#ifndef UPGRADE_UPGRADE_H
#define UPGRADE_UPGRADE_H

#include <atomic>

#include "core/Types.h"

#define UPDATE_MARK        0xEFFE
#define UPDATE_FLAG_FIRST  0x00
#define UPDATE_FLAG_MIDDLE 0x20
#define UPDATE_FLAG_LAST   0x80
#define UPDATE_PACKET_MAX  0x10000         // data bytes of one packet
#define UPDATE_FILE_MAX    (64u << 20)     // an upload beyond this is dropped
#define UPDATE_IDLE_MS     30000           // an upload that gains no bytes for this long is dropped
#define UPDATE_OWNER_ANY   0               // the owner of uploads whose caller names none
#define UPDATE_DIR         "/tmp/upgrade"
#define UPDATE_FILE        UPDATE_DIR "/webupdate.bin"

struct UpdatePacket_S {
    u16 u16Mark;            // UPDATE_MARK
    u8 u8Flag;              // UPDATE_FLAG_*
    u16 u16Num;             // packet number, 0 for the first
    u32 u32Len;             // bytes at pu8Data
    const u8 *pu8Data;      // the caller's, for the duration of the call
};

typedef s32 UpdateExitProc(void);

// One upload packet: the first starts UPDATE_FILE, later ones append, the
// last has the file checked, written to flash and the box rebooted, all on
// the caller's thread. A malformed packet, or a file that fails its check,
// drops the upload (a packet with a wrong mark, or one that comes without
// an upload, is only refused); the flash is untouched until the check passed.
// Once an image is written every packet is refused until the reset: it
// would cut a second write half done.
// 0, or -1 (logged at most once a second: the packets come from peers).
// pfnExit is kept for callers that pass one; it is not called.
s32 ImageRecv(UpdatePacket_S *pstPacket, UpdateExitProc *pfnExit);
// ImageRecv for a caller that names the peer (a connection, an address):
// an upload belongs to the owner whose first packet started it, and every
// packet of another owner, a first one too, is refused while it runs.
s32 ImageRecv_From(u64 u64Owner, UpdatePacket_S *pstPacket);
// The owner is gone (its connection closed): its upload, if one runs, is
// dropped and the file removed.
void ImageRecv_Abandon(u64 u64Owner);
// True while the owner's upload runs.
bool ImageRecv_Owns(u64 u64Owner);
// Drops an upload whose last bytes (or its start) came UPDATE_IDLE_MS or
// more before s64NowMs (monotonic clock, ms); the upgrade thread calls it.
// An empty packet is taken but is no progress.
void ImageRecv_Expire(s64 s64NowMs);

#define UPDATE_STATE_IDLE      0
#define UPDATE_STATE_REQUESTED 1   // a checked file waits for the upgrade thread
#define UPDATE_STATE_WRITTEN   2   // an image is written and the reboot asked for
extern std::atomic<s32> g_upgradeimg_flag;   // UPDATE_STATE_*

// Checks an image file and hands it to the upgrade thread; 0, or -1 when
// the check fails (logged), the thread is busy with another file or an
// image is already written.
s32 MAIN_Upgrade_Request(const char *pszFile);
s32 MAIN_UpgradeThread_start(void);
void MAIN_UpgradeThread_stop(void);

#endif
