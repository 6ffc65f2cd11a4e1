// The receiver's state machine: one step reads and clears the interrupt
// registers, follows the input, brings the MIPI output up for a stable
// input and down on loss, and watches that the output stays stable.
#include "media/HdmiRxPriv.h"
#include "media/HdmiRxMipi.h"

#include <cstdio>

#define HDMIRX_ECC_RESET        5       // ECC errors that pulse hot-plug
#define HDMIRX_DESKEW_RESET     10      // deskew errors that rebuild the output
#define HDMIRX_MAX_FPS          63      // a faster first measurement is taken again
#define HDMIRX_STABLE_STEPS     21      // unstable steps before the re-checks
#define HDMIRX_STABLE_CHECKS    12      // re-checks, 100 ms apart

static u32 s_u32HdmiMode;               // 1 HDMI, 0 DVI
static u32 s_u32EccErrCount;
static u32 s_u32DeskewErrCount;
static u32 s_bAviSeen;
static u32 s_u32StableCount;
static bool s_bStableWatch;             // the output reported a stable change
static u32 s_u32LastAvMute = 0xFFFFFFFF;

static const char *const s_apszReg06[8] = {
    "# FSM Error  #\n", "# CH2 Symbol lock Rst #\n", "# CH1 Symbol lock Rst #\n", "# CH0 Symbol lock Rst #\n",
    "# CH2 CDR FIFO Aut0-Rst #\n", "# CH1 CDR FIFO Aut0-Rst #\n", "# CH0 CDR FIFO Aut0-Rst #\n",
    "# Symbol Lock State Change # \n",
};

static const char *const s_apszReg12[8] = {
    nullptr, "# New MPEG InfoFrame Received #\n", "# New SPD PKT Received #\n", "# New ACP PKT Received #\n",
    "# New Audio PKT Received #\n", "# DRM pkt Change #\n", "# 3D audio Valie Change #\n", nullptr,
};

void hdmirx_fsm_reset(void)
{
    s_u32HdmiMode = 0;
    s_u32EccErrCount = 0;
    s_u32DeskewErrCount = 0;
    s_bAviSeen = 0;
    s_u32StableCount = 0;
    s_bStableWatch = false;
    s_u32LastAvMute = 0xFFFFFFFF;
}

static void hdmirx_set_av_mute(HdmiRxAttr_S *pstRx, u32 u32Mute)
{
    if (u32Mute == 0) {
        if (pstRx->bVideoRun == 1)
            (void)hdmirx_enable_mipi(pstRx);          // a refused enable is printed
        printf("set av mute off\n");
    } else if (u32Mute == 1) {
        hdmirx_disable_mipi(pstRx);
        printf("set av mute on\n");
    } else {
        dev_err("av mute state unknown");
    }
}

static void poll_threaded_handler(HdmiRxAttr_S *pstRx)
{
    hdmi_chgbank(pstRx, 0);
    u32 u32Mute = (hdmi_read(pstRx, 0xAA) >> 3) & 1;
    if (u32Mute != s_u32LastAvMute) {
        hdmirx_set_av_mute(pstRx, u32Mute);
        s_u32LastAvMute = u32Mute;
    }
}

static u8 hdmirx_read_clear(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Keep)
{
    u8 u8Val = hdmi_read(pstRx, u8Reg);
    if (u8Val & ~u8Keep)
        (void)hdmi_write(pstRx, u8Reg, (u8)(u8Val & ~u8Keep));   // printed; read again next step
    return u8Val;
}

// The AVI infoframe decides the colour conversion; without one (DVI) the
// input is RGB.
static void hdmirx_avi_csc(HdmiRxAttr_S *pstRx)
{
    if (hdmirx_get_avi_infoframe(pstRx) == 0 || s_u32HdmiMode == 0)
        hdmirx_setup_csc(pstRx);
}

static s32 hdmirx_measure(HdmiRxAttr_S *pstRx)
{
    if (hdmi_rx_calc_tmds_clk(pstRx, 5) < 0 || hdmi_rx_calc_pclk(pstRx) < 0)
        return -1;
    return hdmi_rx_get_video_info(pstRx);
}

// Brings the MIPI output up for the input. An input whose clocks or
// timing cannot be measured counts as not stable and stays down.
static void hdmirx_video_up(HdmiRxAttr_S *pstRx, bool bRebuild)
{
    mSleep(200);
    hdmirx_avi_csc(pstRx);
    mSleep(bRebuild ? 100 : 200);
    s32 s32Ret = hdmirx_measure(pstRx);
    if (s32Ret == 0 && !bRebuild && pstRx->stVideoInfo.u32FrameRate > HDMIRX_MAX_FPS) {
        printf("re do hdmi_rx_get_video_info\n");
        s32Ret = hdmirx_measure(pstRx);
    }
    if (s32Ret < 0) {
        dev_err("hdmi input not stable, mipi stays off");
        pstRx->u8HdmiStable = 0;
        return;
    }
    mSleep(100);
    hdmirx_audio_setup(pstRx);
    mipi_tx_get_support_format(pstRx);
    if (hdmirx_enable_mipi(pstRx) < 0)
        return;                                       // printed; the input stays down
    pstRx->bVideoRun = 1;
    mSleep(200);
    s_u32EccErrCount = 0;
    s_u32DeskewErrCount = 0;
    if (!bRebuild)
        pstRx->u32P2mErrCount = 0;
}

void hdmirx_restart_video(HdmiRxAttr_S *pstRx)
{
    pstRx->bVideoRun = 0;
    hdmirx_disable_mipi(pstRx);
    pstRx->bRebuildMipi = 1;
}

static void hdmirx_video_down(HdmiRxAttr_S *pstRx)
{
    pstRx->bVideoRun = 0;
    pstRx->bRebuildMipi = 0;
    hdmirx_disable_mipi(pstRx);
}

// Register 0x05. Returns true when the rest of the HDMI handling is skipped.
static bool hdmirx_link_events(HdmiRxAttr_S *pstRx, u8 u8R05, u8 u8R13)
{
    bool bSkip = false;
    if (u8R05 & 0x10)
        printf("# hdmi mode chg # \n");
    if (u8R05 & 0x20) {
        printf("# ECC Error # \n");
        if (++s_u32EccErrCount >= HDMIRX_ECC_RESET) {
            s_u32EccErrCount = 0;
            printf("# reset HPD # \n");
            hdmirx_hpd_pulse(pstRx);
        }
    }
    if (u8R05 & 0x40) {
        printf("# Deskew Error # \n");
        if (++s_u32DeskewErrCount >= HDMIRX_DESKEW_RESET) {
            s_u32DeskewErrCount = 0;
            if (pstRx->bVideoRun == 1) {
                printf("# reset video # \n");
                hdmirx_restart_video(pstRx);
                bSkip = true;
            }
        }
    }
    if (u8R05 & 0x80)
        printf("# H2VSkew Fail #\n");
    if (u8R05 & 0x04) {
        printf("# Input Clock Change Detect #\n");
        hdmirx_video_down(pstRx);
        printf(u8R13 & 0x10 ? "# Clock Stable #\n" : "# Clock NOT Stable #\n");
        bSkip = true;
    }
    if (u8R05 & 0x02)
        printf("# Rx CKOn Detect #\n");
    if (u8R05 & 0x01) {
        printf("# 5V state change INT #\n");
        hdmirx_video_down(pstRx);
        mSleep(10);
        (void)hdmi_set(pstRx, 0x23, 0x02, 0x02);      // failures are printed
        (void)hdmi_set(pstRx, 0x23, 0x02, 0x00);
        mSleep(10);
        if (u8R13 & 0x01) {
            hdmirx_hpd_high(pstRx);
            pstRx->u32Hdmi5v = 1;
        } else {
            pstRx->u32Hdmi5v = 0;
            hdmirx_hpd_low(pstRx);
        }
    }
    return bSkip;
}

static void hdmirx_hdcp_events(HdmiRxAttr_S *pstRx, u8 u8R09)
{
    if (u8R09 & 0x01)
        dev_err("# HDCP Authentication Start #");
    if (u8R09 & 0x02) {
        dev_err("# HDCP Authentication Done #");
        pstRx->u8HdcpOn = 1;
    }
    if (u8R09 & 0x04) {
        pstRx->u8HdcpOn = hdmirx_get_hdcp_status(pstRx) ? 1 : 0;
        dev_err("HDCP Encryption change interrupt!");
        dev_err("HDCP Encryption %s!", pstRx->u8HdcpOn ? "ON" : "OFF");
    }
    if (u8R09 & 0x08) {
        dev_err("# HDCP Off #");
        pstRx->u8HdcpOn = 0;
    }
}

static void hdmirx_packet_events(HdmiRxAttr_S *pstRx, u8 u8R12)
{
    if (u8R12 & 0x80) {
        u8 u8R1A = hdmi_read(pstRx, 0x1A), u8R1B = hdmi_read(pstRx, 0x1B);
        printf("# Video Parameters Change #\n");
        printf("# VidParaChange_Sts=Reg1Bh=0x%02X Reg1Ah=0x%02X\n", u8R1B, u8R1A);
        (void)hdmi_write(pstRx, 0x12, 0x80);          // failures are printed
    }
    for (u32 u32Bit = 6; u32Bit >= 1; u32Bit--)
        if (u8R12 & (1u << u32Bit))
            printf("%s", s_apszReg12[u32Bit]);
    if ((u8R12 & 0x01) || (u8R12 && !s_bAviSeen)) {
        s_bAviSeen = 1;
        printf("# New AVI InfoFrame Received #\n");
        hdmirx_avi_csc(pstRx);
    } else if (s_u32HdmiMode == 0) {
        pstRx->stAviInfo.enColorspace = HDMI_COLORSPACE_RGB;
    }
}

// Register 0x10. Returns true when the step goes straight to the MIPI status.
static bool hdmirx_video_events(HdmiRxAttr_S *pstRx, u8 u8R10)
{
    if (u8R10 & 0x80) {
        dev_err("# Audio FIFO Error #");
        hdmirx_audio_setup(pstRx);
    }
    if (u8R10 & 0x40)
        dev_err("# Audio Auto Mute #");
    if (u8R10 & 0x10) {
        dev_err("# Set Mute PKT Received #");
        hdmirx_set_av_mute(pstRx, 1);
    }
    if (u8R10 & 0x20) {
        dev_err("# PKT Left Mute #");
        hdmirx_set_av_mute(pstRx, 0);
    }
    if (u8R10 & 0x08)
        dev_err("# Timer Counter Tntterrupt #");
    if (u8R10 & 0x04)
        dev_err("# Video Mode Changed #");
    if (u8R10 & 0x02) {
        pstRx->u8HdmiStable = (u8)hdmi_is_scdt_on(pstRx);
        dev_err("SCDT %s", pstRx->u8HdmiStable ? "ON" : "OFF");
        if (pstRx->u8HdmiStable && pstRx->bVideoRun == 1) {
            hdmirx_restart_video(pstRx);
            return true;
        }
        if (pstRx->u8HdmiStable)
            hdmirx_video_up(pstRx, false);
        else
            hdmirx_video_down(pstRx);
    }
    if (u8R10 & 0x01)
        printf("# Video Abnormal Interrup #\n");
    return false;
}

static void hdmirx_colour_events(HdmiRxAttr_S *pstRx, u8 u8R11)
{
    if (u8R11 & 0x20)
        printf("# No Audio InfoFrame Received #\n");
    if (u8R11 & 0x10)
        printf("# No AVI InfoFrame Received #\n");
    if (u8R11 & 0x08) {
        printf("# CD Detect #\n");
        printf("input color depth = %d bits\n", (hdmi_read(pstRx, 0x98) >> 4) * 6);
        hdmirx_avi_csc(pstRx);
    }
    for (u8 u8Bit = 0x02; u8Bit; u8Bit >>= 1)
        if (u8R11 & u8Bit)
            (void)hdmi_write(pstRx, 0x11, u8Bit);     // failures are printed
}

// Counts steps in which the input is there but the output is not stable.
static void hdmirx_stable_watch(HdmiRxAttr_S *pstRx)
{
    if (!s_bStableWatch)
        return;
    if (!hdmi_is_scdt_on(pstRx) || pstRx->u8MipiStable || pstRx->bVideoRun != 1) {
        s_u32StableCount = 0;
        s_bStableWatch = false;
        return;
    }
    if (++s_u32StableCount < HDMIRX_STABLE_STEPS)
        return;
    u32 u32Scdt = 1, u32Mipi = 0;
    for (u32 i = 0; i < HDMIRX_STABLE_CHECKS && u32Scdt && !u32Mipi && pstRx->bVideoRun == 1; i++) {
        mSleep(100);
        u32Scdt = hdmi_is_scdt_on(pstRx);
        u32Mipi = mipi_tx_get_video_stable(pstRx);
    }
    if (u32Scdt && !u32Mipi && pstRx->bVideoRun == 1) {
        printf("# reset HPD # hdmi_rx_video_stable[%d] mipi_tx_video_stable[%d]\n", u32Scdt, u32Mipi);
        pstRx->bVideoRun = 0;
        hdmirx_disable_mipi(pstRx);
        hdmirx_hpd_pulse(pstRx);
    }
    s_u32StableCount = 0;
    s_bStableWatch = false;
}

static void hdmirx_intp_threaded_handler(HdmiRxAttr_S *pstRx)
{
    u8 u8R05 = hdmirx_read_clear(pstRx, 0x05, 0x00);
    u8 u8R09 = hdmirx_read_clear(pstRx, 0x09, 0x00);
    u8 u8R12 = hdmirx_read_clear(pstRx, 0x12, 0x80);
    u8 u8R06 = hdmirx_read_clear(pstRx, 0x06, 0x00);
    u8 u8R11 = hdmirx_read_clear(pstRx, 0x11, 0x00);
    u8 u8R13 = hdmi_read(pstRx, 0x13);
    if (u8R13 & 0x02) {
        if (s_u32HdmiMode != 1) {
            s_u32HdmiMode = 1;
            printf("-------------------------------HDMI------------------------\n");
        }
    } else if (s_u32HdmiMode == 1) {
        s_u32HdmiMode = 0;
        printf("-------------------------------DVI------------------------\n");
        pstRx->stAviInfo.enColorspace = HDMI_COLORSPACE_RGB;
    }
    bool bSkip = hdmirx_link_events(pstRx, u8R05, u8R13);
    for (u32 u32Bit = 0; u32Bit < 8; u32Bit++)
        if (u8R06 & (1u << u32Bit))
            printf("%s", s_apszReg06[u32Bit]);
    hdmirx_hdcp_events(pstRx, u8R09);
    hdmirx_packet_events(pstRx, u8R12);
    bool bToStatus = false;
    if (!bSkip) {
        bToStatus = hdmirx_video_events(pstRx, hdmirx_read_clear(pstRx, 0x10, 0x00));
        if (!bToStatus)
            hdmirx_colour_events(pstRx, u8R11);
    }
    if (!bToStatus && pstRx->bRebuildMipi) {
        pstRx->bRebuildMipi = 0;
        printf("====================rebuild mipi==================\n");
        hdmirx_video_up(pstRx, true);
    }
    if (hdmirx_mipi_status(pstRx))
        s_bStableWatch = true;
    hdmirx_stable_watch(pstRx);
}

void hdmirx_fsm(HdmiRxAttr_S *pstRx)
{
    poll_threaded_handler(pstRx);
    hdmirx_intp_threaded_handler(pstRx);
}
