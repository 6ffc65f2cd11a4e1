// A source plugged at any moment of the start-up is streamed: the source
// layer with its application callbacks against the simulated receiver, one
// forked child per plug time (the receiver model lives once per process),
// all children at once to keep the run short.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "media/AVSource.h"
#include "media/MediaSnr.h"
#include "platform/host/HostHdmiRx.h"
#include "tests/media/MediaTest.h"

#define PLUG_MODE      "1920x1080p60"
#define PLUG_STREAM_MS 8000     // plug to the capture driver's 1080p60 record, at most

using std::chrono::milliseconds;

static bool Streaming(void)
{
    SnrVideoInfo_S st = {};
    return Media_SNR_GetState() == EN_SIGNAL_LOCK && Media_SNR_GetVideoInfo(&st) == 0 && st.bsupport == 1
           && st.u16VideoWidth == 1920 && st.u16VideoHeight == 1080 && st.u8VideoFps == 60;
}

static u32 HpdRises(void)
{
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    const HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    u32 n = 0;
    for (u32 i = 0; i < pstRx->u32HpdEvents && i < HOSTRX_HPD_EVENTS; i++)
        n += pstRx->astHpd[i].bHigh;
    return n;
}

// In the child: a fresh receiver and capture pad, the layer started, the
// source plugged when pfnWait returns; exit status 0 once it streams.
static int PlugChild(const std::function<void()> &pfnWait)
{
    HostHdmiRx_Reset();
    HostMedia_Reset();
    std::thread plug([&pfnWait] {
        pfnWait();
        HostHdmiRx_Plug(PLUG_MODE);
    });
    void *h = MAIN_AVSource_Start();
    plug.join();
    return h != nullptr && Test_WaitFor(Streaming, PLUG_STREAM_MS) ? 0 : 1;
}

// Runs one child per wait; the names of those that did not stream, each
// with the receiver's lines on the clocks and timing it measured.
static std::vector<std::string> PlugAll(const std::vector<std::pair<std::string, std::function<void()>>> &waits)
{
    std::vector<pid_t> pids;
    for (size_t i = 0; i < waits.size(); i++) {
        std::string out = "/tmp/plug-" + std::to_string(i) + ".txt";
        fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            if (freopen(out.c_str(), "w", stdout) == nullptr)
                _exit(2);
            _exit(PlugChild(waits[i].second));
        }
        pids.push_back(pid);
    }
    std::vector<std::string> failed;
    for (size_t i = 0; i < waits.size(); i++) {
        int s32Status = -1;
        waitpid(pids[i], &s32Status, 0);
        std::string out = "/tmp/plug-" + std::to_string(i) + ".txt";
        if (!WIFEXITED(s32Status) || WEXITSTATUS(s32Status) != 0) {
            std::string lines;
            char az[256];
            FILE *pf = fopen(out.c_str(), "r");
            while (pf != nullptr && fgets(az, sizeof(az), pf) != nullptr)
                if (strstr(az, "PCLK") || strstr(az, "FrameRate") || strstr(az, "MPTX"))
                    lines += az;
            if (pf != nullptr)
                fclose(pf);
            failed.push_back(waits[i].first + ":\n" + lines);
        }
        unlink(out.c_str());
    }
    return failed;
}

// Every 250 ms of the first 8 s after the start, and every 10 ms of the
// 300 ms after the hot-plug rise that ends the start-up's EDID write (the
// source then starts while the output is being rebuilt).
TEST(StartPlugTest, EveryPlugTimeStreams)
{
    std::vector<std::pair<std::string, std::function<void()>>> waits;
    for (u32 u32Ms = 0; u32Ms <= 8000; u32Ms += 250)
        waits.push_back({"plug " + std::to_string(u32Ms) + " ms after the start",
                         [u32Ms] { std::this_thread::sleep_for(milliseconds(u32Ms)); }});
    for (u32 u32Ms = 0; u32Ms <= 300; u32Ms += 10)
        waits.push_back({"plug " + std::to_string(u32Ms) + " ms after the EDID's hot-plug rise", [u32Ms] {
                             Test_WaitFor([] { return HpdRises() >= 1; }, 10000);
                             std::this_thread::sleep_for(milliseconds(u32Ms));
                         }});
    std::vector<std::string> failed = PlugAll(waits);
    EXPECT_TRUE(failed.empty()) << failed.size() << " plug times without a stream, the first:\n"
                                << (failed.empty() ? "" : failed[0]);
}
