// The audio input's selection: the HDMI audio or the analog input, routed
// by three GPIO lines; the analog input is captured at 48000 Hz.
#include <mutex>
#include <unistd.h>

#include "app/AVSourceMsg.h"
#include "app/Main.h"
#include "app/MainMedia.h"
#include "board/Gpio.h"
#include "core/Debug.h"
#include "media/MediaAudio.h"

#define MAIN_GPIO_AUDIO_A      6
#define MAIN_GPIO_AUDIO_B      5
#define MAIN_GPIO_AUDIO_HDMI   13
#define MAIN_AUDIO_AO_DEV      0         // the one local output
#define MAIN_ANALOG_RATE       48000
#define MAIN_SWITCH_WAIT_US    (100 * 1000)
#define MAIN_GPIO_WAIT_US      (10 * 1000)

static std::once_flag s_GpioOnce;

static void Main_AudioGpioInit(void)
{
    for (s32 s32Gpio : {MAIN_GPIO_AUDIO_A, MAIN_GPIO_AUDIO_B, MAIN_GPIO_AUDIO_HDMI})
        if (GPIO_INIT(s32Gpio) != 0 || GPIO_OUTPUT(s32Gpio) != 0)
            Debug_Log("[%s]: audio GPIO %d failed!\n", log_Time(), s32Gpio);
}

static void Main_AudioLine(s32 s32Gpio, s32 s32Level)
{
    if (GPIO_SET((u32)s32Gpio, s32Level) < 0)
        Debug_Log("[%s]: audio GPIO %d failed!\n", log_Time(), s32Gpio);
}

// The routing lines, written in this order.
static void Main_AudioRoute(s32 s32Hdmi, s32 s32A, s32 s32B)
{
    Main_AudioLine(MAIN_GPIO_AUDIO_HDMI, s32Hdmi);
    Main_AudioLine(MAIN_GPIO_AUDIO_A, s32A);
    Main_AudioLine(MAIN_GPIO_AUDIO_B, s32B);
}

// The capture (and the local output it feeds) restarted at 48000 Hz,
// unless it runs at that rate already.
static void Main_AudioAnalogCapture(void)
{
    MainServerAttr_S *pstMain = &g_stMainServerAttr;
    MainMediaAttr_S *pstMedia = &pstMain->stMainMediaAttr;
    if (pstMain->bAiCapStart && pstMain->enSample == MAIN_ANALOG_RATE)
        return;
    if (pstMain->bAiCapStart) {
        for (s32 s32Chn = 0; s32Chn < 2; s32Chn++)
            (void)HI_Media_Ao_UnbindAi(pstMedia->s32AiDev, s32Chn, MAIN_AUDIO_AO_DEV, s32Chn);   // logs itself
        (void)HI_Media_Ao_Stop(MAIN_AUDIO_AO_DEV);   // logs itself
        MAIN_AudioCapture_Stop("");
    }
    MediaAudioAttr_S *apstAttr[] = {&pstMedia->stAiAttr, &pstMedia->stAoAttr, &pstMedia->stMainAudioAttr,
                                    &pstMedia->stSubAudioAttr};
    for (MediaAudioAttr_S *pstAttr : apstAttr)
        pstAttr->enInSamplerate = pstAttr->enOutSamplerate = MAIN_ANALOG_RATE;
    // The frames go on to the local output: it plays again at the new rate.
    s32 s32Ret = HI_Media_Ao_start(MAIN_AUDIO_AO_DEV, &pstMedia->stAoAttr);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_Media_Ao_start failed with %#x!\n", log_Time(), s32Ret);
    if (MAIN_AudioCapture_Start() == 0)   // logs its failure
        g_enCurrentRunSample = pstMain->enSample;   // a later input change compares with it
}

s32 MAIN_Audio_set(s32 s32Input, s32 bRestart)
{
    if (s32Input != MAIN_AUDIO_INPUT_HDMI && s32Input != MAIN_AUDIO_INPUT_ANALOG) {
        Debug_Log("[%s]: [%s]no audio input %d\n", log_Time(), __func__, s32Input);
        return -1;
    }
    g_audio_switch = 1;
    if (s32Input == MAIN_AUDIO_INPUT_ANALOG) {
        g_audioinput_status = MAIN_AUDIO_STATUS_ANALOG;
        Debug_Log("[%s]: [%s]g_audioinput_status=%d,Analog status\n", log_Time(), __func__,
                  (s32)g_audioinput_status);
    }
    usleep(MAIN_SWITCH_WAIT_US);
    // One hold over every step: a signal change between them would rebuild
    // the capture or the channels under the switch.
    std::lock_guard<std::mutex> lock(g_MediaMutex);
    bool bStreams = bRestart == 1 && s32Input == MAIN_AUDIO_INPUT_ANALOG && g_stMainServerAttr.stConifg.bRtspStart;
    if (bStreams) {
        Debug_Log("[%s]: [%s]2,audio StopStream\n", log_Time(), __func__);
        (void)MAIN_AVSource_Streams(false, "", "");   // logs its failure
    }
    std::call_once(s_GpioOnce, Main_AudioGpioInit);
    Main_AudioLine(MAIN_GPIO_AUDIO_A, 1);
    Main_AudioLine(MAIN_GPIO_AUDIO_B, 1);
    usleep(MAIN_GPIO_WAIT_US);
    if (s32Input == MAIN_AUDIO_INPUT_HDMI) {
        Main_AudioRoute(1, 1, 0);
        g_audioinput_status = MAIN_AUDIO_STATUS_HDMI;
        Debug_Log("[%s]: [%s]g_audioinput_status=%d,HDMI status\n", log_Time(), __func__, (s32)g_audioinput_status);
        return 0;
    }
    Main_AudioAnalogCapture();
    Main_AudioRoute(0, 0, 1);
    if (bRestart == 1) {
        const MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
        for (s32 i = 0; i < 2; i++)
            if (HI_Media_Venc_RequestIDR(pstMedia->as32VencChn[i]) != 0)
                Debug_Log("[%s]: HI_Media_Venc_RequestIDR failed!\n", log_Time());
        Debug_Log("[%s]: [%s,%d]2,audio StartStream\n", log_Time(), __func__, __LINE__);
        (void)MAIN_AVSource_Streams(true, "", "");   // logs its failure
    }
    return 0;
}
