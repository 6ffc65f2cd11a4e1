#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "board/Wdt.h"
#include "extension/TcpServer.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"
#include "tests/support/Sock.h"
#include "upgrade/Flash.h"
#include "upgrade/Image.h"
#include "upgrade/Upgrade.h"

// The root file system starts in the erase block after the kernel's last.
static const u32 KERNEL_ADDR = 0x50000, ROOTFS_ADDR = 0x80000;

struct ImagePartData_S {
    const char *pszName;
    std::string data;
    u32 u32FlashAddr;
};

// The parts' data one after the other, then the 64 KiB header block.
static std::string Image_Build(const std::vector<ImagePartData_S> &parts, ImageInfo_S *pstInfo = nullptr)
{
    ImageInfo_S stInfo;
    memset(&stInfo, 0, sizeof(stInfo));
    snprintf(stInfo.azModel, sizeof(stInfo.azModel), "%s", IMAGE_MODEL);
    std::string file;
    for (size_t i = 0; i < parts.size(); i++) {
        ImagePart_S &stPart = stInfo.astPart[i];
        snprintf(stPart.azName, sizeof(stPart.azName), "%s", parts[i].pszName);
        stPart.u32FileOffset = (u32)file.size();
        stPart.u32Len = (u32)parts[i].data.size();
        stPart.u32FlashAddr = parts[i].u32FlashAddr;
        stPart.u32Crc = getCrc32(0xFFFFFFFF, parts[i].data.data(), stPart.u32Len);
        file += parts[i].data;
    }
    Image_Seal(&stInfo);
    if (pstInfo != nullptr)
        *pstInfo = stInfo;
    return file + std::string((const char *)&stInfo, sizeof(stInfo)) + std::string(IMAGE_HEAD_BLOCK - sizeof(stInfo), '\0');
}

// The image as upload packets of u32Chunk data bytes (the data stays in img).
static std::vector<UpdatePacket_S> Image_Packets(const std::string &img, u32 u32Chunk)
{
    std::vector<UpdatePacket_S> packets;
    for (u32 u32Off = 0; u32Off < img.size(); u32Off += u32Chunk) {
        u8 u8Flag = u32Off == 0 ? UPDATE_FLAG_FIRST : u32Off + u32Chunk >= img.size() ? UPDATE_FLAG_LAST : UPDATE_FLAG_MIDDLE;
        packets.push_back({UPDATE_MARK, u8Flag, (u16)packets.size(), (u32)std::min<size_t>(u32Chunk, img.size() - u32Off),
                           (const u8 *)img.data() + u32Off});
    }
    return packets;
}

// The box's 32 MiB flash image, erased; an image of two partitions.
struct UpgradeTest : public testing::Test {
    static void SetUpTestSuite() { ASSERT_EQ(0, MAIN_Image_Init()); }
    std::string kernel = File_Pattern(0x23456, 1), rootfs = File_Pattern(0x10001, 2);
    std::string image = Image_Build({{"kernel", kernel, KERNEL_ADDR}, {"rootfs", rootfs, ROOTFS_ADDR}});
    size_t calls = File_Read("/board/calls.log").size();   // what earlier tests left
    void TearDown() override
    {
        g_upgradeimg_flag = UPDATE_STATE_IDLE;   // as after the reset a written image asks for
        ASSERT_EQ(0, Flash_Erase(0, 0x400000));
    }

    static std::string Flash(u32 u32Addr, size_t len)
    {
        std::string s(len, '\0');
        EXPECT_EQ(0, Flash_Read(u32Addr, &s[0], (u32)len));
        return s;
    }
    // Waits for the reboot stand-in, which runs in the background.
    bool Rebooted(int s32Tries = 100)
    {
        for (int i = 0; i < s32Tries; i++, usleep(20 * 1000))
            if (File_Read("/board/calls.log").find("reboot -d 1", calls) != std::string::npos)
                return true;
        return false;
    }
    static s32 Upload(const std::string &img, u32 u32Chunk)
    {
        s32 s32Ret = 0;
        for (UpdatePacket_S &st : Image_Packets(img, u32Chunk))
            if (s32Ret == 0)
                s32Ret = ImageRecv(&st, nullptr);
        return s32Ret;
    }
};

// Every corruption is found before the flash is touched, and the upload
// is dropped.
TEST_F(UpgradeTest, CorruptImagesLeaveTheFlashUntouched)
{
    ImageInfo_S stInfo;
    Image_Build({{"kernel", kernel, KERNEL_ADDR}}, &stInfo);
    auto resealed = [&](void (*pfnEdit)(ImageInfo_S *)) {
        ImageInfo_S st = stInfo;
        pfnEdit(&st);
        Image_Seal(&st);
        std::string img = kernel + std::string(IMAGE_HEAD_BLOCK, '\0');
        memcpy(&img[kernel.size()], &st, sizeof(st));
        return img;
    };
    std::vector<std::string> bad(2, image);
    bad[0][0x20000] ^= 1;                               // data
    bad[1][image.size() - IMAGE_HEAD_BLOCK + 10] ^= 1;  // header, check word no longer fits
    bad.push_back(image.substr(0x100));                 // header not in the last block
    bad.push_back(resealed([](ImageInfo_S *p) { strcpy(p->azModel, "OTHER"); }));
    bad.push_back(resealed([](ImageInfo_S *p) { p->astPart[0].u32FlashAddr += 0x100; }));
    bad.push_back(resealed([](ImageInfo_S *p) { p->astPart[0].u32FlashAddr = IMAGE_FLASH_LIMIT - 0x10000; }));
    bad.push_back(resealed([](ImageInfo_S *p) { p->astPart[0].u32Len += 1; }));
    bad.push_back(resealed([](ImageInfo_S *p) { p->astPart[0].u32FileOffset = 0xFFFFFFF0u; }));
    bad.push_back(resealed([](ImageInfo_S *p) { p->astPart[0].azName[0] = '\0'; }));
    bad.push_back(std::string(IMAGE_HEAD_BLOCK - 1, '\0'));
    // Partitions that would erase each other: within the data, in the
    // erase block the kernel ends in, at the same address.
    for (u32 u32Addr : {KERNEL_ADDR + 0x10000, ROOTFS_ADDR - 0x10000, KERNEL_ADDR})
        bad.push_back(Image_Build({{"kernel", kernel, KERNEL_ADDR}, {"rootfs", rootfs, u32Addr}}));

    const std::string before = Flash(0, 0x400000);
    for (size_t i = 0; i < bad.size(); i++) {
        EXPECT_EQ(-1, Upload(bad[i], 4096)) << "case " << i;
        EXPECT_NE(0, access(UPDATE_FILE, F_OK)) << "case " << i;
    }
    EXPECT_TRUE(Flash(0, 0x400000) == before);
    EXPECT_FALSE(Rebooted(10));
}

// Text fields of a header get their end: a name filling its field is
// cut, not read on into the next field.
TEST_F(UpgradeTest, HeaderTextsAreEnded)
{
    ImageInfo_S stInfo;
    Image_Build({{"kernel", kernel, KERNEL_ADDR}}, &stInfo);
    memset(stInfo.astPart[0].azName, 'n', sizeof(stInfo.astPart[0].azName));
    memset(stInfo.azVersion, 'v', sizeof(stInfo.azVersion));
    Image_Seal(&stInfo);
    ASSERT_EQ(0, Image_CheckHeader(&stInfo, (u32)kernel.size()));
    EXPECT_EQ(31u, strlen(stInfo.astPart[0].azName));
    EXPECT_EQ(31u, strlen(stInfo.azVersion));
}

TEST_F(UpgradeTest, RefusesStrayPackets)
{
    const u8 au8[4] = {};
    UpdatePacket_S stMark = {0xEFFF, UPDATE_FLAG_FIRST, 0, 4, au8};
    UpdatePacket_S stOrphan = {UPDATE_MARK, UPDATE_FLAG_MIDDLE, 3, 4, au8};
    UpdatePacket_S stFirstNum = {UPDATE_MARK, UPDATE_FLAG_FIRST, 1, 4, au8};
    UpdatePacket_S stNull = {UPDATE_MARK, UPDATE_FLAG_FIRST, 0, 4, nullptr};
    UpdatePacket_S stFlag = {UPDATE_MARK, 0x40, 0, 4, au8};
    UpdatePacket_S stFirst = {UPDATE_MARK, UPDATE_FLAG_FIRST, 0, 4, au8};
    UpdatePacket_S stHuge = {UPDATE_MARK, UPDATE_FLAG_MIDDLE, 1, UPDATE_PACKET_MAX + 1, au8};
    for (UpdatePacket_S *pst : {&stMark, &stOrphan, &stFirstNum, &stNull, &stFlag})
        EXPECT_EQ(-1, ImageRecv(pst, nullptr));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    ASSERT_EQ(0, ImageRecv(&stFirst, nullptr));
    EXPECT_EQ(4, (int)File_Read(UPDATE_FILE).size());
    EXPECT_EQ(-1, ImageRecv(&stHuge, nullptr));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    EXPECT_EQ(-1, ImageRecv(&stOrphan, nullptr));
    g_upgradeimg_flag = 1;   // a requested file is being flashed
    EXPECT_EQ(-1, ImageRecv(&stFirst, nullptr));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    g_upgradeimg_flag = 0;
}

static s64 NowMs(void)
{
    struct timespec st;
    clock_gettime(CLOCK_MONOTONIC, &st);
    return (s64)st.tv_sec * 1000 + st.tv_nsec / 1000000;
}

// An upload is its first packet's owner's: no other owner's packet, not
// even a first one, gets in while it runs. It ends when its owner leaves
// or after UPDATE_IDLE_MS without a packet, and its file goes with it.
TEST_F(UpgradeTest, UploadBelongsToItsOwner)
{
    std::vector<UpdatePacket_S> packets = Image_Packets(image, 0x8000);
    ASSERT_EQ(0, ImageRecv_From(1, &packets[0]));
    EXPECT_EQ(-1, ImageRecv_From(2, &packets[1]));
    EXPECT_EQ(-1, ImageRecv_From(2, &packets[0]));
    EXPECT_EQ(-1, ImageRecv(&packets[1], nullptr));
    UpdatePacket_S stBadFlag = packets[1];
    stBadFlag.u8Flag = 0x40;
    EXPECT_EQ(-1, ImageRecv_From(2, &stBadFlag));   // does not end the owner's upload
    ImageRecv_Abandon(2);
    EXPECT_TRUE(ImageRecv_Owns(1));
    ASSERT_EQ(0, ImageRecv_From(1, &packets[1]));
    EXPECT_EQ(0x10000u, File_Read(UPDATE_FILE).size());
    ImageRecv_Abandon(1);
    EXPECT_FALSE(ImageRecv_Owns(1));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    EXPECT_EQ(-1, ImageRecv_From(1, &packets[2]));

    ASSERT_EQ(0, ImageRecv_From(2, &packets[0]));
    s64 s64Last = NowMs();
    ImageRecv_Expire(s64Last + UPDATE_IDLE_MS - 1000);
    ASSERT_EQ(0, ImageRecv_From(2, &packets[1]));
    s64Last = NowMs();
    ImageRecv_Expire(s64Last + UPDATE_IDLE_MS - 1000);
    EXPECT_TRUE(ImageRecv_Owns(2));
    ImageRecv_Expire(s64Last + UPDATE_IDLE_MS + 1000);
    EXPECT_FALSE(ImageRecv_Owns(2));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    EXPECT_EQ(-1, ImageRecv_From(2, &packets[2]));
    EXPECT_FALSE(Rebooted(10));
}

// Only bytes are an upload's progress: a peer that sends empty packets is
// dropped at the idle bound all the same, and the next upload is taken.
TEST_F(UpgradeTest, EmptyPacketsDoNotHoldAnUpload)
{
    std::vector<UpdatePacket_S> packets = Image_Packets(image, 0x8000);
    UpdatePacket_S stEmpty = {UPDATE_MARK, UPDATE_FLAG_MIDDLE, 1, 0, nullptr};
    ASSERT_EQ(0, ImageRecv_From(1, &packets[0]));
    s64 s64Bytes = NowMs();
    usleep(1500 * 1000);   // the empty packet comes well after the bytes
    ASSERT_EQ(0, ImageRecv_From(1, &stEmpty));
    ImageRecv_Expire(s64Bytes + UPDATE_IDLE_MS);
    EXPECT_FALSE(ImageRecv_Owns(1));
    EXPECT_EQ(0, ImageRecv_From(2, &packets[0]));
    ImageRecv_Abandon(2);
}

// Once an image is written and its reboot asked for, nothing more gets in
// on either path, whoever sends it: the reset would cut a second write.
TEST_F(UpgradeTest, NothingIsTakenOnceAnImageIsWritten)
{
    ASSERT_EQ(0, Upload(image, 0x8000));
    ASSERT_TRUE(Rebooted());   // its stand-in runs in the background
    UpdatePacket_S stFirst = Image_Packets(image, 0x8000)[0];
    File_Write("/tmp/upgrade.bin", image);
    EXPECT_EQ(-1, ImageRecv(&stFirst, nullptr));   // as "update tx" sends it
    EXPECT_EQ(-1, ImageRecv_From(7, &stFirst));    // another peer on port 5888
    EXPECT_EQ(-1, MAIN_Upgrade_Request("/tmp/upgrade.bin"));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
}

// A file checked on request is written by the upgrade thread.
TEST_F(UpgradeTest, UpgradeThreadWritesARequestedFile)
{
    File_Write("/tmp/upgrade.bin", image);
    File_Write("/tmp/bad.bin", image.substr(1));
    static std::string s_firstSeen;   // the kernel's flash when a pending save was first written
    Wdt_AttachBeforeReboot([]() -> s32 {
        if (s_firstSeen.empty())
            s_firstSeen = Flash(KERNEL_ADDR, 16);
        return 0;
    });
    ASSERT_EQ(0, MAIN_UpgradeThread_start());
    EXPECT_EQ(-1, MAIN_Upgrade_Request("/tmp/bad.bin"));
    EXPECT_EQ(0, g_upgradeimg_flag);
    ASSERT_EQ(0, MAIN_Upgrade_Request("/tmp/upgrade.bin"));
    EXPECT_TRUE(Rebooted());
    for (int i = 0; i < 100 && g_upgradeimg_flag == UPDATE_STATE_REQUESTED; i++)
        usleep(20 * 1000);
    EXPECT_EQ(UPDATE_STATE_WRITTEN, g_upgradeimg_flag);
    EXPECT_EQ(kernel, Flash(KERNEL_ADDR, kernel.size()));
    EXPECT_EQ(std::string(16, '\xff'), s_firstSeen);   // before the flash was written
    MAIN_UpgradeThread_stop();
    Wdt_AttachBeforeReboot(nullptr);
}

// A pending save is written before the flash, later ones are held from
// then to the reboot, and released when the write fails (here the file is
// gone by then).
TEST_F(UpgradeTest, SavesAreHeldWhileTheFlashIsWritten)
{
    static std::string s_steps;
    static bool s_bRemove;
    Wdt_AttachBeforeReboot([]() -> s32 {
        s_steps += "flush ";
        if (s_bRemove)
            unlink("/tmp/upgrade.bin");
        return 0;
    });
    Wdt_AttachHold([](bool bHold) {
        s_steps += !bHold ? "release " : Flash(KERNEL_ADDR, 16) == std::string(16, '\xff') ? "hold " : "late ";
    });
    ASSERT_EQ(0, MAIN_UpgradeThread_start());
    for (bool bRemove : { true, false }) {
        s_steps.clear();
        s_bRemove = bRemove;
        File_Write("/tmp/upgrade.bin", image);
        ASSERT_EQ(0, MAIN_Upgrade_Request("/tmp/upgrade.bin"));
        for (int i = 0; i < 250 && g_upgradeimg_flag == UPDATE_STATE_REQUESTED; i++)
            usleep(20 * 1000);
        EXPECT_EQ(bRemove ? UPDATE_STATE_IDLE : UPDATE_STATE_WRITTEN, g_upgradeimg_flag);
        EXPECT_EQ(bRemove ? "flush hold release " : "flush hold flush ", s_steps);
        EXPECT_EQ(!bRemove, Rebooted(bRemove ? 10 : 100));
    }
    MAIN_UpgradeThread_stop();
    Wdt_AttachBeforeReboot(nullptr);
    Wdt_AttachHold(nullptr);
}

// One upload packet framed for port 5888.
static std::string Upgrade_TcpPacket(const UpdatePacket_S &st)
{
    u32 u32Len = st.u32Len + TCP_UPGRADE_HEAD_LEN;
    return std::string({'$', TCP_TYPE_UPGRADE, (char)(u32Len >> 8), (char)u32Len, (char)0xEF, (char)0xFE,
                        (char)st.u8Flag, (char)(st.u16Num >> 8), (char)st.u16Num})
           + std::string((const char *)st.pu8Data, st.u32Len);
}

// Sends the image through port 5888 in packets of u32Chunk data bytes, two
// packets per write so that packets straddle reads; returns the acks.
static std::string Upgrade_SendTcp(int s32Fd, const std::string &img, u32 u32Chunk)
{
    std::string acks, batch;
    std::vector<UpdatePacket_S> packets = Image_Packets(img, u32Chunk);
    for (size_t i = 0; i < packets.size(); i++) {
        batch += Upgrade_TcpPacket(packets[i]);
        if (i % 2 == 1 || i + 1 == packets.size()) {
            EXPECT_EQ((ssize_t)batch.size(), write(s32Fd, batch.data(), batch.size()));
            acks += Pty_Read(s32Fd, 5 * (i % 2 + 1), 5000);
            batch.clear();
        }
    }
    return acks;
}

// Garbage and an unknown type before the packets change nothing; a whole
// upload is acknowledged packet by packet and written, its file and the
// unfinished-upgrade mark are gone, and the box reboots.
TEST_F(UpgradeTest, TypedPacketServerTakesUploads)
{
    ASSERT_EQ(0, MAIN_TcpServer_start(TCP_SERVER_PORT));
    int s32Fd = Sock_Connect(TCP_SERVER_PORT);
    ASSERT_GE(s32Fd, 0);
    const std::string junk = std::string("xx$\x09\x00\x02", 6) + "ab";
    ASSERT_EQ((ssize_t)junk.size(), write(s32Fd, junk.data(), junk.size()));
    std::string acks = Upgrade_SendTcp(s32Fd, image, 4000), ok;
    for (size_t i = 0; i < (image.size() + 4000 - 1) / 4000; i++)
        ok += std::string("$\x81\x00\x01\x00", 5);
    EXPECT_EQ(ok, acks);
    EXPECT_EQ(kernel, Flash(KERNEL_ADDR, kernel.size()));
    EXPECT_EQ(rootfs, Flash(ROOTFS_ADDR, rootfs.size()));
    EXPECT_EQ(std::string(0x1000, '\xff'), Flash(ROOTFS_ADDR + 0x10001, 0x1000));
    EXPECT_TRUE(Rebooted());
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    EXPECT_NE(0, access(IMAGE_UPDATE_DIR, F_OK));
    close(s32Fd);
    MAIN_TcpServer_stop();
}

static const std::string ACK_OK("$\x81\x00\x01\x00", 5), ACK_REFUSED("$\x81\x00\x01\x01", 5);

// Port 5888's upload is its connection's: a second client is turned away
// while it runs, and the upload goes when its connection closes.
TEST_F(UpgradeTest, TcpUploadBelongsToItsConnection)
{
    ASSERT_EQ(0, MAIN_TcpServer_start(TCP_SERVER_PORT));
    std::vector<UpdatePacket_S> packets = Image_Packets(image, 0x8000);
    int s32Owner = Sock_Connect(TCP_SERVER_PORT);
    ASSERT_GE(s32Owner, 0);
    const std::string first = Upgrade_TcpPacket(packets[0]);
    ASSERT_EQ((ssize_t)first.size(), write(s32Owner, first.data(), first.size()));
    EXPECT_EQ(ACK_OK, Pty_Read(s32Owner, 5, 2000));

    int s32Other = Sock_Connect(TCP_SERVER_PORT);
    ASSERT_GE(s32Other, 0);
    std::string rest;
    for (size_t i = 1; i < packets.size(); i++)
        rest += Upgrade_TcpPacket(packets[i]);
    (void)write(s32Other, rest.data(), rest.size());   // may fail once turned away
    EXPECT_EQ("", Pty_Read(s32Other, 5, 1000));
    close(s32Other);
    EXPECT_EQ(0x8000u, File_Read(UPDATE_FILE).size());

    close(s32Owner);
    usleep(300 * 1000);
    EXPECT_FALSE(ImageRecv_Owns((u64)TCP_SERVER_PORT << 32 | 1));
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
    int s32Next = Sock_Connect(TCP_SERVER_PORT);
    const std::string middle = Upgrade_TcpPacket(packets[1]);
    ASSERT_EQ((ssize_t)middle.size(), write(s32Next, middle.data(), middle.size()));
    EXPECT_EQ(ACK_REFUSED, Pty_Read(s32Next, 5, 2000));
    close(s32Next);
    MAIN_TcpServer_stop();
    EXPECT_FALSE(Rebooted(10));
}

// A flood of what the server cannot use (stray bytes, packets of unknown
// types, upload packets without an upload) logs a few lines, not one a
// packet.
TEST_F(UpgradeTest, TcpFloodLogsAFewLines)
{
    ASSERT_EQ(0, MAIN_TcpServer_start(TCP_SERVER_PORT));
    int s32Fd = Sock_Connect(TCP_SERVER_PORT);
    ASSERT_GE(s32Fd, 0);
    const u8 au8[4] = {};
    const std::string orphan = Upgrade_TcpPacket({UPDATE_MARK, UPDATE_FLAG_MIDDLE, 1, 4, au8});
    std::string flood;
    for (int i = 0; i < 5000; i++)
        flood += std::string("$\x09\x00\x00x", 5) + orphan;
    testing::internal::CaptureStdout();
    ASSERT_EQ((ssize_t)flood.size(), write(s32Fd, flood.data(), flood.size()));
    std::string acks = Pty_Read(s32Fd, 5 * 5000, 10000);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(5u * 5000, acks.size());
    EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 40) << out.substr(0, 2000);
    close(s32Fd);
    MAIN_TcpServer_stop();
}

// Uploads of a few bytes each, one after the other, fail their check as
// fast as a peer sends them: a few lines, not a few an upload.
TEST_F(UpgradeTest, FloodOfBadUploadsLogsAFewLines)
{
    const u8 au8[4] = {};
    UpdatePacket_S stFirst = {UPDATE_MARK, UPDATE_FLAG_FIRST, 0, 4, au8};
    UpdatePacket_S stLast = {UPDATE_MARK, UPDATE_FLAG_LAST, 1, 4, au8};
    testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(0, ImageRecv(&stFirst, nullptr));
        ASSERT_EQ(-1, ImageRecv(&stLast, nullptr));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 10) << out.substr(0, 2000);
    EXPECT_NE(0, access(UPDATE_FILE, F_OK));
}

// Framing is seen through the server; here what it does not show: bytes
// without a mark are dropped whole, and an upgrade packet shorter than its
// own head is refused, not read.
TEST(TcpParse, DropsUnmarkedBytesAndShortUpgradePackets)
{
    TcpPacket_S st;
    EXPECT_EQ(3u, TcpServer_Parse((const u8 *)"abc", 3, &st));
    EXPECT_FALSE(st.bPacket);
    const u8 au8Short[] = {'$', TCP_TYPE_UPGRADE, 0, 4, 0xEF, 0xFE, 0, 0};
    ASSERT_EQ(8u, TcpServer_Parse(au8Short, sizeof(au8Short), &st));
    EXPECT_EQ(-1, TcpServer_Handle(&st, UPDATE_OWNER_ANY));
}
