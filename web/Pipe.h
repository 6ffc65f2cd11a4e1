// The FIFO bridge between the external web server side and the web
// command set: commands arrive as JSON objects on "/customer/fifoc2s",
// each reply goes to "/customer/fifos2c".
#ifndef WEB_PIPE_H
#define WEB_PIPE_H

#include <string>

#include "core/Types.h"

#define PIPE_C2S      "/customer/fifoc2s"
#define PIPE_S2C      "/customer/fifos2c"
#define PIPE_MAX_CMD  0x10000   // longest command; a longer one is dropped

s32 MAIN_Pipe_Start(void);     // 0 or the thread-creation error
void MAIN_Pipe_Stop(void);     // wakes and joins the bridge thread

// Splitter of the command stream: the bytes of one whole top-level JSON
// object, found in pBuf from its start; incomplete objects stay in pBuf.
// Returns 1 with the object in *pCmd, 0 when more bytes are needed, -1
// when pBuf grew past PIPE_MAX_CMD without an object end (pBuf is emptied).
s32 Pipe_NextCommand(std::string *pBuf, std::string *pCmd);

#endif
