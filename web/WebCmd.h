// The web command set: JSON commands named by "comhead", from the external
// web server side.
#ifndef WEB_WEBCMD_H
#define WEB_WEBCMD_H

#include <string>

#include "core/Types.h"

// Handles one command text; writes the JSON reply into *pReply. 0 when the
// command was carried out, -1 otherwise (the reply says why).
s32 MAIN_Webserver_DataProc(const char *pszCmd, u32 u32Len, std::string *pReply);

#endif
