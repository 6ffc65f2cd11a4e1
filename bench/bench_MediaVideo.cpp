// CPU of the media engine stand-in while it replays 1080p60: H.265 main
// 1920x1080 and sub 640x360 at 60 pictures a second, and a JPEG snapshot
// every second, taken by the encoder threads of the media layer. The GOPs
// are encoded before the measured run. Counter "cpu_percent" is the
// process's CPU time over wall time, in percent of one core: at most 5.
#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "media/MediaVideo.h"
#include "platform/host/HostMedia.h"
#include "platform/host/HostSim.h"

static std::atomic<u32> s_au32Pictures[3];

static s32 Bench_Count(s32 s32Chn, MiVencStream_S *pstStream)
{
    (void)pstStream;
    s_au32Pictures[s32Chn]++;
    return 0;
}

static double Bench_Seconds(clockid_t enClock)
{
    struct timespec st;
    clock_gettime(enClock, &st);
    return (double)st.tv_sec + st.tv_nsec / 1e9;
}

static bool Bench_Build(void)
{
    const MediaViAttr_S stVi = {MEDIA_VI_MIPI, 1920, 1080, MEDIA_SCAN_PROGRESSIVE, 0, 60, 60};
    const u32 au32Sizes[7] = {1920, 640, 240, 1080, 360, 240, 0};
    const MediaVencAttr_S astVenc[3] = {
        {MEDIA_VENC_H265, MEDIA_RC_VBR, 1920, 1200, 1920, 1080, 60, 60, 60, 4000},
        {MEDIA_VENC_H265, MEDIA_RC_VBR, 1920, 1200, 640, 360, 60, 60, 60, 1000},
        {MEDIA_VENC_JPEG, MEDIA_RC_CBR, 1920, 1200, 1920, 1080, 60, 60, 60, 4000},
    };
    bool bOk = HI_Media_Init(nullptr) == 0 && HostSim_Exec("pad 1920x1080p60") == "ok\n" &&
               HI_Media_Vi_Start(0, 0, 0, &stVi) == 0 && HI_Media_Vpss_Start(0, 3, au32Sizes) == 0 &&
               HI_MEDIA_Venc_RegisterNotify(Bench_Count) == 0;
    for (s32 s32Chn = 0; bOk && s32Chn < 3; s32Chn++)
        bOk = HI_Media_Venc_CreateChn(s32Chn, &astVenc[s32Chn]) == 0 && HI_Media_Venc_Start(s32Chn) == 0;
    bOk = bOk && HI_Media_VI_BindVpss(0, 0, 0, 0) == 0;
    for (s32 s32Chn = 0; bOk && s32Chn < 3; s32Chn++)
        bOk = HI_Media_Venc_BindVpss(s32Chn, 0, s32Chn) == 0;
    // Wait for the GOPs: pictures flow on all three channels.
    for (u32 u32Ms = 0; bOk && u32Ms < 120000 && !(s_au32Pictures[0] && s_au32Pictures[1] && s_au32Pictures[2]);
         u32Ms += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return bOk && s_au32Pictures[0] && s_au32Pictures[1] && s_au32Pictures[2];
}

static void BM_Replay1080p60(benchmark::State &state)
{
    if (!Bench_Build()) {
        state.SkipWithError("the pipeline did not start");
        return;
    }
    u32 au32Start[3] = {s_au32Pictures[0], s_au32Pictures[1], s_au32Pictures[2]};
    double dWall = Bench_Seconds(CLOCK_MONOTONIC), dCpu = Bench_Seconds(CLOCK_PROCESS_CPUTIME_ID);
    for (auto _ : state) {
        for (s32 s32Second = 0; s32Second < 10; s32Second++) {
            HI_Media_Start_SnapShot();
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }
    dWall = Bench_Seconds(CLOCK_MONOTONIC) - dWall;
    dCpu = Bench_Seconds(CLOCK_PROCESS_CPUTIME_ID) - dCpu;
    state.counters["cpu_percent"] = 100 * dCpu / dWall;
    state.counters["main_fps"] = (s_au32Pictures[0] - au32Start[0]) / dWall;
    state.counters["sub_fps"] = (s_au32Pictures[1] - au32Start[1]) / dWall;
    state.counters["jpeg_per_s"] = (s_au32Pictures[2] - au32Start[2]) / dWall;
    for (s32 s32Chn : {1, 0, 2})
        HI_Media_Venc_Stop(s32Chn);
    HostMedia_Reset();
}
BENCHMARK(BM_Replay1080p60)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
