// The SoC media engine, system part: module ids, error codes, pixel formats
// and the binds that carry frames from one channel port to the next.
// These are our own declarations of the engine calls this program makes,
// with C linkage as the vendor's C libraries define them. On the board the
// vendor's media libraries are linked in their place; on the host
// platform/host/HostMedia*.cpp stand in for the engine.
#ifndef PLATFORM_MISYS_H
#define PLATFORM_MISYS_H

#include "core/Types.h"

enum MiModId_E {
    MI_MODULE_SYS  = 0,
    MI_MODULE_VENC = 2,
    MI_MODULE_AI   = 4,
    MI_MODULE_AO   = 5,
    MI_MODULE_VIF  = 6,
    MI_MODULE_VPE  = 7,
    MI_MODULE_SNR  = 9,
};

// Every failure is MI_ERR(module, MiErrCode_E): a negative value.
#define MI_SUCCESS 0
#define MI_ERR(mod, code) ((s32)(0xA0000000u | ((u32)(mod) << 16) | (u32)(code)))
enum MiErrCode_E {
    MI_ERR_INVALID_DEVID = 1,
    MI_ERR_INVALID_CHNID = 2,
    MI_ERR_ILLEGAL_PARAM = 3,
    MI_ERR_EXIST         = 4,   // created or bound already
    MI_ERR_UNEXIST       = 5,
    MI_ERR_NULL_PTR      = 6,
    MI_ERR_NOT_CONFIG    = 7,   // attributes missing
    MI_ERR_NOT_SUPPORT   = 8,
    MI_ERR_NOT_PERM      = 9,   // not allowed in the current state
    MI_ERR_BUF_EMPTY     = 14,
    MI_ERR_SYS_NOTREADY  = 16,  // MI_SYS_Init not called
};

enum MiPixelFormat_E {
    MI_PIXFMT_YUYV = 0,    // 4:2:2 packed (BT.656)
    MI_PIXFMT_NV16 = 10,   // 4:2:2 semi-planar
    MI_PIXFMT_NV12 = 11,   // 4:2:0 semi-planar
    MI_PIXFMT_UYVY = 14,   // 4:2:2 packed
};

struct MiSysChnPort_S {
    u32 enModId;           // MiModId_E
    u32 u32DevId;
    u32 u32ChnId;
    u32 u32PortId;
};

enum MiSysBindType_E {
    MI_SYS_BIND_FRAME    = 1,   // whole frames through memory
    MI_SYS_BIND_REALTIME = 4,   // line by line, video input to scaler only
};

extern "C" {

s32 MI_SYS_Init(void);
s32 MI_SYS_Exit(void);

// A destination takes frames from one source; binding the same pair again
// changes nothing, binding a second source fails with MI_ERR_EXIST.
s32 MI_SYS_BindChnPort2(const MiSysChnPort_S *pstSrc, const MiSysChnPort_S *pstDst,
                        u32 u32SrcFrmRate, u32 u32DstFrmRate, u32 enBindType, u32 u32BindParam);
s32 MI_SYS_UnBindChnPort(const MiSysChnPort_S *pstSrc, const MiSysChnPort_S *pstDst);
s32 MI_SYS_GetBindbyDest(const MiSysChnPort_S *pstDst, MiSysChnPort_S *pstSrc);
s32 MI_SYS_SetChnOutputPortDepth(const MiSysChnPort_S *pstPort, u32 u32UserFrameDepth,
                                 u32 u32BufQueueDepth);
// A descriptor that is readable while the output port holds a frame for
// the caller; each call gives a new one, closed with MI_SYS_CloseFd.
s32 MI_SYS_GetFd(const MiSysChnPort_S *pstPort, s32 *ps32Fd);
s32 MI_SYS_CloseFd(s32 s32Fd);
}

#endif
