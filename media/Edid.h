// The EDIDs the box offers its HDMI source: six built into the program,
// the copy taken from a receiver box and two uploaded by the user, chosen
// by the configured EDID index; the validity test, the stored copies (raw
// in the runtime record, hex text in the settings), the preset loader, and
// the filter that makes a 4K display's EDID one this 1080p-class input can
// honour. An EDID is 256 bytes: the base block and one CEA-861 extension.
#ifndef MEDIA_EDID_H
#define MEDIA_EDID_H

#include "core/Types.h"

#define EDID_LEN           256
#define EDID_BLOCK_LEN     128
#define EDID_BUILTIN_NUM   6         // indexes 0..5
#define EDID_INDEX_COPY    6         // copied from a receiver
#define EDID_INDEX_USER1   7
#define EDID_INDEX_USER2   8

// One EDID as a value, so that tables of them can be built at compile time.
struct EdidBlock_S {
    u8 au8[EDID_LEN];
};

// Manufacturer "TMU", product 0x0001, monitor name "Tamsu IP AV".
extern const EdidBlock_S Edid_4100L_Lib[EDID_BUILTIN_NUM];
// The source layer's first EDID and the one a factory reset restores:
// 3840 x 2160 first, 1280 x 720 second, one CEA-861 extension.
extern const EdidBlock_S Default_Edid_Block;

// Sum of the bytes modulo 256: a block is whole when its 128 bytes sum to 0.
constexpr u8 Edid_Sum(const u8 *pu8, u32 u32Len)
{
    u8 u8Sum = 0;
    for (u32 i = 0; i < u32Len; i++)
        u8Sum = (u8)(u8Sum + pu8[i]);
    return u8Sum;
}

// 1 when bytes 0-7 are the EDID header, else 0.
s32 CheckEdidHead(const u8 *pu8Edid);
// 1 when the checksum holds: all 256 bytes with an extension announced in
// byte 126, else the base block alone.
s32 IsCheckSumRight(const u8 *pu8Edid);
s32 IsEdidRight(const u8 *pu8Edid);   // 1 when both tests pass
// 1 when the s32Len bytes from a peer are a whole EDID: 256 bytes, or
// 128 whose byte 126 announces no extension; the header right and each
// block's own checksum right. Else 0. Reads no byte past s32Len.
s32 Edid_IsWhole(const u8 *pu8Edid, s32 s32Len);

#define EDID_STORED_NUM 3   // the received copy, user EDIDs 1 and 2

// Where the stored EDIDs live (the runtime record's blocks), given once at
// start-up before any getter or setter runs.
void EDID_AttachStore(u8 *pu8Copy, u8 *pu8User1, u8 *pu8User2);
// The stored EDIDs. Getters copy 256 bytes out; setters store the bytes
// and their text and request the deferred save. 0, or -1 before the
// store is attached. Neither checks the EDID nor loads it into the receiver.
s32 getEdid(u8 *pu8Out);
s32 getUser1Edid(u8 *pu8Out);
s32 getUser2Edid(u8 *pu8Out);
s32 setEdid(const u8 *pu8Edid);
s32 setUser1Edid(const u8 *pu8Edid);
s32 setUser2Edid(const u8 *pu8Edid);

// A built-in EDID: 0, or -1 for an index above 5.
s32 AVSource_get_EDID_from_index(u32 u32Index, u8 *pu8Out);

// Hands the EDID of the configured index to the source layer: 0, or -1
// when a stored EDID (index 6-8) could not be handed on. A stored EDID
// that fails IsEdidRight is replaced by built-in EDID 0.
s32 MAIN_SetEDID_preset(void *hAVSource);

// Rewrites an EDID in place so that it announces nothing above 1080p60 /
// 1920 x 1200 and two-channel PCM, with both checksums made right. Safe on
// any 256 bytes: an extension whose data-block offset (byte 130) is below
// 4 or above 127 is taken to hold no data blocks and no timings. Beyond a
// plain run of its steps: 4:2:0 blocks are removed from byte 132 on, not
// only from byte 150; the first data block has its VICs rewritten only
// when it is a video block; an EDID announcing more than one extension is
// made to announce the one its 256 bytes carry.
void EDID_Filte4k(u8 *pu8Edid);

// Steps of the filter, in the order it runs them, each on the 256 bytes.
// A block is taken only whole inside the extension's data-block area; a
// removed block's place is closed up to byte 254, zeros fill in before the
// checksum and byte 130 shrinks. Checksums are left to the filter.
void Del420Info(u8 *pu8Edid);                     // every YCbCr 4:2:0 video and capability-map block
void DisableHdr(u8 *pu8Edid);                     // the first HDR static metadata block
void DisableCDB(u8 *pu8Edid);                     // the first colorimetry block
void zup_remove_dolbyVision_edid(u8 *pu8Edid);    // every vendor-specific video block
// The extension's timings after its first one, as far as byte 234: one
// above 154 MHz becomes 1920 x 1080 at 60 Hz.
void Disable4KDetailTiming_Block1(u8 *pu8Edid);

#endif
