// Media engine stand-in: the encoded pictures an encoder channel replays.
// One GOP (JPEG: a loop of pictures) of a panning picture of natural detail
// is encoded once per attribute set on the cache's own thread and kept, at
// the channel's bit rate. Each picture shows its number in the GOP as
// eight blocks in its top stripe (max(height / 16, 8) lines; block b is
// white when bit 7 - b is set).
#ifndef PLATFORM_HOST_HOSTMEDIAGOP_H
#define PLATFORM_HOST_HOSTMEDIAGOP_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/MiVenc.h"

#define HOST_GOP_JPEG_LOOP 30   // JPEG pictures of the pattern's loop

struct HostGopNal_S {
    u32 u32Type;                     // MiVencNalType_E
    u32 u32Offset, u32Len;           // in the picture's data, 4-byte start code included
};

struct HostGopPicture_S {
    std::vector<u8> data;
    std::vector<HostGopNal_S> nals;
    u32 u32HeadNals;                 // of an IDR: parameter sets and SEI before its slices
    bool bIdr;
};

enum HostGopState_E { HOST_GOP_BUILDING = 0, HOST_GOP_READY = 1, HOST_GOP_FAILED = -1 };

struct HostGop_S {
    std::string key;
    MiVencChnAttr_S stAttr;
    u32 u32Qfactor;                  // JPEG quality
    std::atomic<s32> s32State;       // HostGopState_E; pictures are complete once READY
    std::vector<HostGopPicture_S> pictures;
};

// The GOP for these attributes, being built or ready: the same one for
// the same attributes while it stays in the cache.
std::shared_ptr<const HostGop_S> HostGop_Get(const MiVencChnAttr_S *pstAttr, u32 u32Qfactor);
bool HostGop_Ready(const HostGop_S *pstGop);
u32 HostGop_Built(void);             // GOPs encoded since the process started
u64 HostGop_Bytes(void);             // pictures of the ready GOPs the cache keeps
// The GOP's bit rate when replayed at its frame rate, bit/s.
double HostGop_Rate(const HostGop_S *pstGop);

#endif
