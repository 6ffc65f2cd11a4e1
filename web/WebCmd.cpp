#include "web/WebCmd.h"

#include <cjson/cJSON.h>
#include <cstring>

#include "core/Debug.h"

#define WEBCMD_LOG_LEN 64   // bytes of a comhead shown in the log

static DebugLimit_S s_stCmdLimit;   // web users send commands at will

// No web command is defined for this box: every command is answered as
// unknown, naming its "comhead", so the web side learns of it at once.
s32 MAIN_Webserver_DataProc(const char *pszCmd, u32 u32Len, std::string *pReply)
{
    cJSON *pstCmd = cJSON_ParseWithLength(pszCmd, u32Len);
    cJSON *pstReply = cJSON_CreateObject();
    const cJSON *pstHead = cJSON_GetObjectItemCaseSensitive(pstCmd, "comhead");

    if (cJSON_IsString(pstHead)) {
        char azShown[WEBCMD_LOG_LEN + 1];
        Debug_Printable(azShown, sizeof(azShown), pstHead->valuestring, (u32)strlen(pstHead->valuestring));
        Debug_LogLimited(&s_stCmdLimit, "[%s]: %s: unknown comhead %s\n", log_Time(), __func__, azShown);
        cJSON_AddStringToObject(pstReply, "comhead", pstHead->valuestring);
        cJSON_AddNumberToObject(pstReply, "result", -1);
        cJSON_AddStringToObject(pstReply, "msg", "unknown comhead");
    } else {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: %s: no comhead\n", log_Time(), __func__);
        cJSON_AddNumberToObject(pstReply, "result", -1);
        cJSON_AddStringToObject(pstReply, "msg", "no comhead");
    }
    char *psz = cJSON_PrintUnformatted(pstReply);
    pReply->assign(psz != nullptr ? psz : "{\"result\":-1}");
    cJSON_free(psz);
    cJSON_Delete(pstReply);
    cJSON_Delete(pstCmd);
    return -1;
}
