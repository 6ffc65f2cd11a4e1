#include "upgrade/Image.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/Debug.h"
#include "upgrade/Flash.h"

// Uploads bring any bytes, as fast as their peer likes: what their check
// finds wrong is logged through one limit.
static DebugLimit_S s_stCheckLimit;

#define IMAGE_CHUNK 0x10000   // bytes read from the file at a time

s32 MAIN_Image_Init(void)
{
    if (Flash_Init() < 0) {
        Debug_Log("[%s]: ImageInit failed!\n", log_Time());
        return -1;
    }
    return 0;
}

s32 MAIN_Check_Update_Status(void)
{
    struct stat st;
    if (stat(IMAGE_UPDATE_DIR, &st) == 0)
        return -1;
    // Usually none runs, and killall then fails: nothing to act on.
    (void)system("killall -9 webupdate >/dev/null 2>&1");
    return 0;
}

template <size_t N>
static void Image_EndText(char (&az)[N])
{
    az[N - 1] = '\0';
}

bool Image_IsSealed(const ImageInfo_S *pstInfo)
{
    return pstInfo->u32Magic == IMAGE_MAGIC
           && getCrc32(0xFFFFFFFF, pstInfo, offsetof(ImageInfo_S, u32Crc)) == pstInfo->u32Crc;
}

void Image_Seal(ImageInfo_S *pstInfo)
{
    pstInfo->u32Magic = IMAGE_MAGIC;
    pstInfo->u32Crc = getCrc32(0xFFFFFFFF, pstInfo, offsetof(ImageInfo_S, u32Crc));
}

void Image_EndTexts(ImageInfo_S *pstInfo)
{
    Image_EndText(pstInfo->azModel);
    Image_EndText(pstInfo->azVersion);
    Image_EndText(pstInfo->azMac);
    Image_EndText(pstInfo->azSn);
    for (ImagePart_S &stPart : pstInfo->astPart)
        Image_EndText(stPart.azName);
}

// The flash a partition takes: whole erase blocks, since it is erased so.
static u64 Image_FlashEnd(const ImagePart_S *pstPart)
{
    u32 u32Erase = Flash_EraseSize();
    return ((u64)pstPart->u32FlashAddr + pstPart->u32Len + u32Erase - 1) / u32Erase * u32Erase;
}

static bool Image_CheckPart(const ImagePart_S *pstPart, u32 u32HeadOffset)
{
    u32 u32Erase = Flash_EraseSize();
    if (pstPart->u32Len == 0 || u32Erase == 0 || pstPart->u32FlashAddr % u32Erase != 0)
        return false;
    u64 u64FileEnd = (u64)pstPart->u32FileOffset + pstPart->u32Len;
    u64 u64FlashEnd = Image_FlashEnd(pstPart);
    return u64FileEnd <= u32HeadOffset && u64FlashEnd <= IMAGE_FLASH_LIMIT
           && u64FlashEnd <= Flash_Size();
}

// Two partitions whose flash ranges meet would erase each other's data.
static const ImagePart_S *Image_Overlap(const ImageInfo_S *pstInfo, const ImagePart_S *pstPart)
{
    for (const ImagePart_S *pst = pstInfo->astPart; pst < pstPart; pst++)
        if (pst->azName[0] != '\0' && pst->u32FlashAddr < Image_FlashEnd(pstPart)
            && pstPart->u32FlashAddr < Image_FlashEnd(pst))
            return pst;
    return nullptr;
}

s32 Image_CheckHeader(ImageInfo_S *pstInfo, u32 u32HeadOffset)
{
    if (!Image_IsSealed(pstInfo)) {
        Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: bad magic %#x or check word\n", log_Time(), __func__,
                         pstInfo->u32Magic);
        return -1;
    }
    Image_EndTexts(pstInfo);
    if (strcmp(pstInfo->azModel, IMAGE_MODEL) != 0) {
        char azShown[sizeof(pstInfo->azModel)];
        Debug_Printable(azShown, sizeof(azShown), pstInfo->azModel, (u32)strlen(pstInfo->azModel));
        Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: image for \"%s\"\n", log_Time(), __func__, azShown);
        return -1;
    }
    u32 u32Parts = 0;
    for (const ImagePart_S &stPart : pstInfo->astPart) {
        if (stPart.azName[0] == '\0')
            continue;
        if (!Image_CheckPart(&stPart, u32HeadOffset)) {
            Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: partition %s %#x+%#x to %#x does not fit\n", log_Time(),
                             __func__, stPart.azName, stPart.u32FileOffset, stPart.u32Len, stPart.u32FlashAddr);
            return -1;
        }
        const ImagePart_S *pstOther = Image_Overlap(pstInfo, &stPart);
        if (pstOther != nullptr) {
            Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: partitions %s and %s overlap in flash\n", log_Time(),
                             __func__, pstOther->azName, stPart.azName);
            return -1;
        }
        u32Parts++;
    }
    if (u32Parts == 0) {
        Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: no partition\n", log_Time(), __func__);
        return -1;
    }
    return 0;
}

// Reads a range of the file chunk by chunk into pfnUse (which returns 0 to
// go on); 0 or -1 (logged).
template <typename Fn>
static s32 Image_ReadRange(s32 s32Fd, u32 u32Offset, u32 u32Len, Fn pfnUse)
{
    std::vector<u8> buf(IMAGE_CHUNK);
    for (u32 u32Done = 0; u32Done < u32Len;) {
        u32 u32Chunk = u32Len - u32Done < IMAGE_CHUNK ? u32Len - u32Done : IMAGE_CHUNK;
        if (pread(s32Fd, buf.data(), u32Chunk, (off_t)u32Offset + u32Done) != (ssize_t)u32Chunk) {
            Debug_Log("[%s]: %s: read %#x: %s\n", log_Time(), __func__, u32Offset + u32Done,
                      strerror(errno));
            return -1;
        }
        if (pfnUse(buf.data(), u32Done, u32Chunk) < 0)
            return -1;
        u32Done += u32Chunk;
    }
    return 0;
}

// Opens an image file and checks header and data; the descriptor, or -1
// (logged).
static s32 Image_Open(const char *pszFile, ImageInfo_S *pstInfo)
{
    s32 s32Fd = open(pszFile, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (s32Fd < 0 || fstat(s32Fd, &st) < 0) {
        Debug_Log("[%s]: %s: %s: %s\n", log_Time(), __func__, pszFile, strerror(errno));
        if (s32Fd >= 0)
            close(s32Fd);
        return -1;
    }
    u32 u32Head = (u32)(st.st_size - IMAGE_HEAD_BLOCK);
    if (st.st_size < IMAGE_HEAD_BLOCK || st.st_size > 0xFFFFFFFFLL
        || pread(s32Fd, pstInfo, sizeof(*pstInfo), u32Head) != (ssize_t)sizeof(*pstInfo)
        || Image_CheckHeader(pstInfo, u32Head) < 0) {
        Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: %s: no valid header (%lld bytes)\n", log_Time(), __func__,
                         pszFile, (long long)st.st_size);
        close(s32Fd);
        return -1;
    }
    for (const ImagePart_S &stPart : pstInfo->astPart) {
        u32 u32Crc = 0xFFFFFFFF;
        if (stPart.azName[0] == '\0')
            continue;
        if (Image_ReadRange(s32Fd, stPart.u32FileOffset, stPart.u32Len,
                            [&u32Crc](const u8 *pu8, u32, u32 u32Chunk) {
                                u32Crc = ~getCrc32(u32Crc, pu8, u32Chunk);
                                return 0;
                            }) < 0
            || ~u32Crc != stPart.u32Crc) {
            Debug_LogLimited(&s_stCheckLimit, "[%s]: %s: partition %s: CRC %#x, header says %#x\n", log_Time(),
                             __func__, stPart.azName, ~u32Crc, stPart.u32Crc);
            close(s32Fd);
            return -1;
        }
    }
    return s32Fd;
}

s32 Image_CheckFile(const char *pszFile)
{
    ImageInfo_S stInfo;
    s32 s32Fd = Image_Open(pszFile, &stInfo);
    if (s32Fd < 0)
        return -1;
    close(s32Fd);
    return 0;
}

s32 Image_WriteFile(const char *pszFile)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    ImageInfo_S stInfo;
    s32 s32Fd = Image_Open(pszFile, &stInfo);
    if (s32Fd < 0)
        return -1;
    if (mkdir(IMAGE_UPDATE_DIR, 0755) < 0 && errno != EEXIST)
        Debug_Log("[%s]: %s: mkdir %s: %s\n", log_Time(), __func__, IMAGE_UPDATE_DIR,
                  strerror(errno));
    u32 u32Erase = Flash_EraseSize();
    for (const ImagePart_S &stPart : stInfo.astPart) {
        if (stPart.azName[0] == '\0')
            continue;
        Debug_Log("[%s]: %s: write %s: %#x bytes at %#x\n", log_Time(), __func__, stPart.azName,
                  stPart.u32Len, stPart.u32FlashAddr);
        u32 u32EraseLen = (stPart.u32Len + u32Erase - 1) / u32Erase * u32Erase;
        if (Flash_Erase(stPart.u32FlashAddr, u32EraseLen) < 0
            || Image_ReadRange(s32Fd, stPart.u32FileOffset, stPart.u32Len,
                               [&stPart](const u8 *pu8, u32 u32Done, u32 u32Chunk) {
                                   return Flash_Program(stPart.u32FlashAddr + u32Done, pu8,
                                                        u32Chunk);
                               }) < 0) {
            close(s32Fd);
            return -1;   // IMAGE_UPDATE_DIR stays: the next start reports the failure
        }
    }
    close(s32Fd);
    if (rmdir(IMAGE_UPDATE_DIR) < 0)
        Debug_Log("[%s]: %s: rmdir %s: %s\n", log_Time(), __func__, IMAGE_UPDATE_DIR,
                  strerror(errno));
    return 0;
}
