// The AAC encoder library's calls that this program makes: open, set a
// parameter, encode, information, close. Our own declarations of the
// fdk-aac encoder interface, with C linkage: the board links that library;
// the host links it where it is installed, else platform/aac/AacEncAv.cpp,
// an adapter of the same calls over libavcodec's AAC-LC encoder (16-bit
// interleaved in, ADTS out).
#ifndef PLATFORM_AACENC_H
#define PLATFORM_AACENC_H

extern "C" {

typedef struct AACENCODER *HANDLE_AACENCODER;

typedef enum {
    AACENC_OK                    = 0x0000,
    AACENC_INVALID_HANDLE        = 0x0020,
    AACENC_MEMORY_ERROR          = 0x0021,
    AACENC_UNSUPPORTED_PARAMETER = 0x0022,
    AACENC_INVALID_CONFIG        = 0x0023,
    AACENC_INIT_ERROR            = 0x0040,
    AACENC_ENCODE_ERROR          = 0x0060,
    AACENC_ENCODE_EOF            = 0x0080,
} AACENC_ERROR;

typedef enum {
    AACENC_AOT          = 0x0100,   // audio object type: 2 AAC-LC
    AACENC_BITRATE      = 0x0101,   // bit/s
    AACENC_BITRATEMODE  = 0x0102,   // 0 constant
    AACENC_SAMPLERATE   = 0x0103,   // Hz
    AACENC_SBR_MODE     = 0x0104,   // 0 off
    AACENC_CHANNELMODE  = 0x0106,   // 1 mono, 2 stereo
    AACENC_CHANNELORDER = 0x0107,   // 0 MPEG, 1 WAV
    AACENC_TRANSMUX     = 0x0300,   // 0 raw, 2 ADTS
} AACENC_PARAM;

typedef enum {
    IN_AUDIO_DATA      = 0,         // 16-bit samples, channels interleaved
    IN_ANCILLRY_DATA   = 1,
    IN_METADATA_SETUP  = 2,
    OUT_BITSTREAM_DATA = 3,
    OUT_AU_SIZES       = 4,
} AACENC_BufferIdentifier;

typedef struct {
    int numBufs;
    void **bufs;
    int *bufferIdentifiers;         // AACENC_BufferIdentifier
    int *bufSizes;                  // bytes
    int *bufElSizes;                // bytes of one element
} AACENC_BufDesc;

typedef struct {
    int numInSamples;               // samples of all channels; -1: end of input
    int numAncBytes;
} AACENC_InArgs;

typedef struct {
    int numOutBytes;
    int numInSamples;               // taken from the input
    int numAncBytes;
    int bitResState;
} AACENC_OutArgs;

typedef struct {
    unsigned int maxOutBufBytes;    // largest output of one call
    unsigned int maxAncBytes;
    unsigned int inBufFillLevel;
    unsigned int inputChannels;
    unsigned int frameLength;       // samples per channel of one frame
    unsigned int nDelay;
    unsigned int nDelayCore;
    unsigned char confBuf[64];      // AudioSpecificConfig
    unsigned int confSize;
} AACENC_InfoStruct;

// encModules: 0 for every module; maxChannels: 0 for the most there are.
AACENC_ERROR aacEncOpen(HANDLE_AACENCODER *phAacEncoder, const unsigned int encModules,
                        const unsigned int maxChannels);
AACENC_ERROR aacEncClose(HANDLE_AACENCODER *phAacEncoder);
// All of inBufDesc, outBufDesc, inargs and outargs null: applies the
// parameters set so far. Otherwise takes input samples and gives at most
// one frame's bit stream (numOutBytes 0 while the encoder fills up).
AACENC_ERROR aacEncEncode(const HANDLE_AACENCODER hAacEncoder, const AACENC_BufDesc *inBufDesc,
                          const AACENC_BufDesc *outBufDesc, const AACENC_InArgs *inargs, AACENC_OutArgs *outargs);
AACENC_ERROR aacEncInfo(const HANDLE_AACENCODER hAacEncoder, AACENC_InfoStruct *pInfo);
AACENC_ERROR aacEncoder_SetParam(const HANDLE_AACENCODER hAacEncoder, const AACENC_PARAM param,
                                 const unsigned int value);
}

#endif
