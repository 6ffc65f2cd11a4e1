// Message forms of the control protocol: the request and reply heads, their
// parse and print, and the datagram framing (a JSON text followed by zero
// bytes, base64-encoded, no terminator).
#ifndef PROTOCOL_PROTOCOLMSG_H
#define PROTOCOL_PROTOCOLMSG_H

#include <cjson/cJSON.h>

#include "core/Types.h"

#define PROTOCOL_BUF_LEN      1500   // datagram, decoded text and reply text
#define PROTOCOL_TEXT_MAX     1119   // longest JSON text whose datagram fits with a zero
#define PROTOCOL_HEAD_LEN     16     // base64 characters compared by the request test
#define PROTOCOL_CMD_LEN      128
#define PROTOCOL_ID_LEN       32
#define PROTOCOL_STATUS_OK    "success"
#define PROTOCOL_STATUS_FAIL  "failure"

extern const char g_u8Base64Head[PROTOCOL_HEAD_LEN + 1];               // formatted print
extern const char g_u8Base64Head_JsonUnformat[PROTOCOL_HEAD_LEN + 1];  // print without whitespace

// One entry of a request's "device" array.
struct ProtocolRequestDevice_S {
    s32 s32Index;                    // position in the array, from 0
    char azId[PROTOCOL_ID_LEN];
};

struct ProtocolRequestHead_S {
    char azCmd[PROTOCOL_CMD_LEN];
    char azHostId[PROTOCOL_ID_LEN];  // device id of the requesting box
    s32 s32DevCount;
    // The addressed devices: allocated by request_head_parse and freed with
    // request_head_free; built by the client for request_head_json (only
    // azId is read there).
    ProtocolRequestDevice_S *pstDevice;
    s32 s32Seq;
};

struct ProtocolReplyHead_S {
    char azCmd[PROTOCOL_CMD_LEN];
    char azStatus[PROTOCOL_ID_LEN];  // PROTOCOL_STATUS_OK or PROTOCOL_STATUS_FAIL
    char azHostId[PROTOCOL_ID_LEN];  // of the request
    char azDeviceId[PROTOCOL_ID_LEN];  // of the answering box
    s32 s32Seq;
};

// Parses a request text into a zeroed head; texts are cut to their fields.
// A member of the wrong kind counts as missing ("seq" too, then 0). A JSON
// whose texts or names hold an escaped NUL, or a "\u" without four hex
// digits, is refused; what follows the JSON (a firmware chunk) is not
// checked. 0, or -1 (logged, nothing left allocated).
s32 request_head_parse(ProtocolRequestHead_S *pstOut, const char *pszJson);
// Frees the device array of a parsed head; a head without one is left alone.
void request_head_free(ProtocolRequestHead_S *pstHead);
// Takes the next sequence number into s32Seq and returns the outer object
// with its "request" member, or null. The caller adds the body, prints and
// deletes it. Callable from any thread.
cJSON *request_head_json(ProtocolRequestHead_S *pstHead);
// The "ack" object of a reply, or null; the caller adds it to an outer object.
cJSON *reponse_head_createjson(const ProtocolReplyHead_S *pstHead);
// As request_head_parse for the "ack" head: 0, or -1 (logged).
s32 reponse_head_parse(ProtocolReplyHead_S *pstOut, const char *pszJson);

// True when a datagram of u32Len bytes begins with one of the two accepted
// request heads.
bool protocol_frame_is_request(const char *pcData, u32 u32Len);
// Encodes a JSON text and its trailing zeros into pcOut (u32OutSize
// bytes). Returns the datagram's length, or -1 when the text is longer
// than PROTOCOL_TEXT_MAX or its datagram does not fit with a terminator.
s32 protocol_frame_encode(const char *pszText, char *pcOut, u32 u32OutSize);
// Decodes the characters of a datagram up to its first zero byte (at most
// u32Len, read no further) into pszText (u32TextSize bytes), always
// terminated. Returns the text's length, or -1 when what they decode to
// does not fit. *pu32Bytes, when given, gets the number of bytes the sender
// framed, without the base64 padding and the last zero that the framing
// always adds: a request may carry bytes after its text. Up to three zeros
// before that one cannot be told from the request's own bytes.
s32 protocol_frame_decode(const char *pcData, u32 u32Len, char *pszText, u32 u32TextSize,
                          u32 *pu32Bytes = nullptr);

#endif
