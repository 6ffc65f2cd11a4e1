// The upgrade image and the flash areas of the box.
//
// An image file is the partitions' data followed by one last 64 KiB block
// that begins with an ImageInfo_S header. All words are little-endian. The
// header names up to ten partitions; each one's data lies in the file
// before the last block and goes to an erase-block boundary of the flash
// below IMAGE_FLASH_LIMIT. The same record, with the MAC and the serial
// number filled in, is the identity block at IMAGE_IDENTITY_OFFSET.
#ifndef UPGRADE_IMAGE_H
#define UPGRADE_IMAGE_H

#include <atomic>

#include "core/Types.h"

#define IMAGE_MAGIC           0x27051956u
#define IMAGE_MODEL           "PZR-T4900"
#define IMAGE_PART_MAX        10
#define IMAGE_HEAD_BLOCK      0x10000      // the file's last block, holding the header
#define IMAGE_IDENTITY_OFFSET 0x1fe0000u   // identity block in flash
#define IMAGE_FLASH_LIMIT     0x1fe0000u   // identity and old parameters lie above; never written
#define IMAGE_UPDATE_DIR      "/root/update"   // present while partitions are being written

struct ImagePart_S {
    char azName[32];         // partition name; empty: entry unused
    u32 u32FileOffset;       // start of the data in the image file
    u32 u32Len;              // bytes of data
    u32 u32FlashAddr;        // flash offset, at an erase-block boundary
    u32 u32Crc;              // CRC-32 of the data
};

struct ImageInfo_S {
    u32 u32Magic;                         //   0: IMAGE_MAGIC
    char azModel[64];                     //   4: IMAGE_MODEL
    char azVersion[32];                   //  68
    char azMac[32];                       // 100: identity block only
    char azSn[64];                        // 132: identity block only
    ImagePart_S astPart[IMAGE_PART_MAX];  // 196
    u8 au8Reserve[96];                    // 676
    u32 u32Crc;                           // 772: CRC-32 of the 772 bytes before it
};
static_assert(sizeof(ImageInfo_S) == 776, "ImageInfo_S is stored as it is");

// Sets up the flash and the header buffer; 0, or -1 with "ImageInit failed!".
s32 MAIN_Image_Init(void);
// -1 when IMAGE_UPDATE_DIR exists (an upgrade did not finish); else ends
// any running "webupdate" and returns 0.
s32 MAIN_Check_Update_Status(void);

// Magic and check word are right.
bool Image_IsSealed(const ImageInfo_S *pstInfo);
// Sets magic and check word.
void Image_Seal(ImageInfo_S *pstInfo);
// Gives every text field a terminating NUL.
void Image_EndTexts(ImageInfo_S *pstInfo);

// Checks a header block: magic, check word, model, partitions fitting a
// file whose header block starts at u32HeadOffset. Text fields of the
// record get a terminating NUL. 0 or -1 (logged).
s32 Image_CheckHeader(ImageInfo_S *pstInfo, u32 u32HeadOffset);
// Checks a whole image file, header and every partition's CRC, reading
// nothing into flash. 0 or -1 (logged).
s32 Image_CheckFile(const char *pszFile);
// Checks the file, then erases and writes every partition it names; the
// flash is touched only after the whole check passed. 0 or -1 (logged).
s32 Image_WriteFile(const char *pszFile);

#endif
