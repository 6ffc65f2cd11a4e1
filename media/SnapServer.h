// The snapshot service: the request for one JPEG picture, and the UDP
// server on port 6888 that answers "ss get snap!" with the snapshot file,
// its first 128 bytes AES-128-CBC encrypted. Replies are capped per source
// address and in all (media/SnapCap.h); requests over the caps go unanswered.
#ifndef MEDIA_SNAPSERVER_H
#define MEDIA_SNAPSERVER_H

#include <atomic>
#include <mutex>

#include "core/Types.h"

#define SNAP_SERVER_PORT   6888
#define SNAP_REQUEST       "ss get snap!"
#define SNAP_REQUEST_LEN   2048      // a longer datagram is cut there
#define SNAP_HEAD_LEN      128       // bytes of the file sent encrypted
#define SNAP_ENC_HEAD_LEN  144       // SNAP_HEAD_LEN padded to whole blocks
#define SNAP_REPLY_HEAD    12        // magic, encrypted length, total length
#define SNAP_BUF_LEN       0x40000   // file and reply buffers
#define SNAP_DATAGRAM_MAX  65507     // largest UDP payload over IPv4
#define SNAP_MAGIC         0xFEFE0000u   // bytes 00 00 FE FE

// What the server shares with the snapshot writer and the supervision loop,
// passed at start. The file is replaced (renamed into place) and deleted
// only under *pMutex; *pbFile is 1 while it holds a finished picture.
struct SnapServerAttr_S {
    const char *pszFile;
    std::mutex *pMutex;
    std::atomic<s32> *pbFile;
    u16 u16Port;
};

// Asks the JPEG channel for one picture; 0 when the request was taken, -1.
s32 MAIN_Media_Start_SnapShot(void);

// Starts the server thread; 0 also when it runs, or the thread-creation
// error (logged). *pstAttr is copied.
s32 MAIN_UDPServer_Start(const SnapServerAttr_S *pstAttr);
// Wakes and joins the thread and closes its socket.
void MAIN_UDPServer_Stop(void);

// AES-128-CBC with the service's key and a fresh copy of its IV. enc pads
// u32Len bytes by PKCS #7 (1 to 16 bytes) into pu8Out, which must hold
// u32Len + 16, and returns the padded length; dec returns the length
// without padding. -1 on failure (logged).
s32 aes_128_cbc_enc(u8 *pu8Out, const u8 *pu8In, s32 s32Len);
s32 aes_128_cbc_dec(u8 *pu8Out, const u8 *pu8In, s32 s32Len);

// True when the datagram (s32Len bytes, no terminator needed) holds the
// request text anywhere before its first NUL.
bool SnapServer_IsRequest(const char *pszData, s32 s32Len);
// Builds the reply for a file of u32Len bytes into pu8Reply (u32Cap bytes):
// the total length, or -1 when the file is too short, too long for one
// datagram or the reply buffer, or the encryption fails.
s32 SnapServer_BuildReply(const u8 *pu8File, u32 u32Len, u8 *pu8Reply, u32 u32Cap);

#endif
