// Test helpers for the media glue: the settings a test streams with, and
// the pipeline and audio capture built as the signal-change handling
// builds them on a lock, from the media attributes of the runtime record.
#ifndef TESTS_MEDIA_MAINMEDIATEST_H
#define TESTS_MEDIA_MAINMEDIATEST_H

#include "core/Types.h"

// Settings: main H.265 1280 x 720 with AAC (bAacMain) or PCM, sub H.264
// 640 x 360 with the other codec; then the media defaults from them.
void TestMedia_Config(bool bAacMain);
// Input 1920 x 1080p60 on the pad; video input, scaler, the three encoder
// channels with their threads and binds. Callback: the glue's.
void TestMedia_BuildVideo(void);
// The glue's pipeline stop and the encoder threads gone.
void TestMedia_StopVideo(void);
// Audio capture at 48000 Hz into the glue's callback; the AAC sender
// started with it when bAencSender.
void TestMedia_StartAudio(bool bAencSender);
void TestMedia_StopAudio(void);

#endif
