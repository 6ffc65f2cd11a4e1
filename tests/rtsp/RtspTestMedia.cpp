#include "tests/rtsp/RtspTestMedia.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/Files.h"

std::string Test_Run(const std::string &strCmd, int s32Seconds, int *ps32Status, std::string *pstrErr)
{
    char azErr[] = "/tmp/clienterrXXXXXX";
    close(mkstemp(azErr));
    std::string strOut;
    FILE *pFile = popen(("timeout -s INT " + std::to_string(s32Seconds) + " " + strCmd + " 2>" + azErr).c_str(), "r");
    char az[65536];
    for (size_t n; pFile && (n = fread(az, 1, sizeof(az), pFile)) > 0;)
        strOut.append(az, n);
    int s32Wait = pFile ? pclose(pFile) : -1;
    *ps32Status = s32Wait != -1 && WIFEXITED(s32Wait) ? WEXITSTATUS(s32Wait) : -1;
    if (pstrErr)
        *pstrErr = File_Read(azErr);
    unlink(azErr);
    return strOut;
}

static std::string Media_Ffmpeg(const std::string &strArgs)
{
    int s32Status;
    std::string strErr, strOut = Test_Run("ffmpeg -v error -nostdin " + strArgs + " -", 120, &s32Status, &strErr);
    if (s32Status != 0)
        fprintf(stderr, "ffmpeg %s: %s\n", strArgs.c_str(), strErr.c_str());
    return strOut;
}

u32 TestMedia_NalType(const Bytes &vecNal, bool bH265)
{
    size_t off = vecNal[2] == 1 ? 3 : 4;
    return bH265 ? (vecNal[off] >> 1) & 0x3F : vecNal[off] & 0x1F;
}

std::vector<TestPicture> TestMedia_Video(const char *pszEncoder, u32 u32Width, u32 u32Height, u32 u32Fps,
                                         u32 u32Kbps, u32 u32Frames, u32 u32Gop)
{
    bool bH265 = std::string(pszEncoder) == "libx265";
    char az[512];
    snprintf(az, sizeof(az),
             "-f lavfi -i testsrc2=size=%ux%u:rate=%u -vf noise=alls=5:allf=t -frames:v %u -c:v %s -preset ultrafast "
             "-b:v %uk -g %u -bf 0 %s%u:min-keyint=%u:bframes=0:open-gop=0:repeat-headers=1:log-level=error -f %s",
             u32Width, u32Height, u32Fps, u32Frames, pszEncoder, u32Kbps, u32Gop,
             bH265 ? "-x265-params keyint=" : "-x264-params keyint=", u32Gop, u32Gop, bH265 ? "hevc" : "h264");
    std::string str = Media_Ffmpeg(az);
    const u8 *pu8 = (const u8 *)str.data();
    // Units start at their start codes (with a fourth zero byte when there
    // is one); a picture ends with its slice.
    std::vector<size_t> vecStart;
    for (size_t i = 0; i + 3 <= str.size(); i++) {
        if (pu8[i] == 0 && pu8[i + 1] == 0 && pu8[i + 2] == 1) {
            vecStart.push_back(i > 0 && pu8[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    }
    std::vector<TestPicture> vecPic(1);
    for (size_t n = 0; n < vecStart.size(); n++) {
        Bytes vecNal(pu8 + vecStart[n], pu8 + (n + 1 < vecStart.size() ? vecStart[n + 1] : str.size()));
        u32 u32Type = TestMedia_NalType(vecNal, bH265);
        vecPic.back().vecNal.push_back(vecNal);
        if (bH265 ? u32Type < 32 : u32Type >= 1 && u32Type <= 5) {
            vecPic.back().u64PtsUs = (u64)(vecPic.size() - 1) * 1000000 / u32Fps;
            vecPic.emplace_back();
        }
    }
    vecPic.pop_back();
    return vecPic;
}

std::vector<Bytes> TestMedia_Aac(u32 u32Rate, u32 u32Channels, u32 u32Frames)
{
    std::string str = Media_Ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(u32Rate) + " -ac " +
                                   std::to_string(u32Channels) + " -c:a aac -b:a 128k -frames:a " +
                                   std::to_string(u32Frames) + " -f adts");
    std::vector<Bytes> vecFrame;
    for (size_t off = 0, len; off + 7 <= str.size(); off += len) {
        const u8 *pu8 = (const u8 *)str.data() + off;
        len = (size_t)(pu8[3] & 3) << 11 | pu8[4] << 3 | pu8[5] >> 5;
        if (len < 7 || off + len > str.size())
            break;
        vecFrame.push_back(Bytes(pu8, pu8 + len));
    }
    return vecFrame;
}
