#include "web/Lighttpd.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Debug.h"

static std::string Lighttpd_Text(s32 s32Https, u32 u32Port)
{
    std::string conf =
        "server.document-root = \"/customer/web\"\n"
        "server.modules = (\"mod_access\", \"mod_cgi\", \"mod_redirect\")\n"
        "server.port = " + std::to_string(u32Port) + "\n"
        "index-file.names = (\"index.html\")\n"
        "cgi.assign = (\".cgi\" => \"\")\n";
    if (s32Https)
        conf +=
            "$SERVER[\"socket\"] == \":443\" {\n"
            "    ssl.engine = \"enable\"\n"
            "    ssl.pemfile = \"" LIGHTTPD_CERT "\"\n"
            "    ssl.privkey = \"" LIGHTTPD_KEY "\"\n"
            "}\n"
            "$SERVER[\"socket\"] == \":" + std::to_string(u32Port) + "\" {\n"
            "    $HTTP[\"host\"] =~ \"^([^:]+)(:[0-9]+)?$\" {\n"
            "        url.redirect = (\"^/(.*)\" => \"https://%1/$1\")\n"
            "    }\n"
            "}\n";
    return conf;
}

s32 MAIN_lighttpd_https_config(s32 s32Https, u32 u32Port)
{
    static const char s_azTmp[] = LIGHTTPD_CONF ".tmp";
    std::string conf = Lighttpd_Text(s32Https, u32Port);

    mkdir("/customer/config", 0755);   // present on a board; an error shows at fopen
    FILE *fp = fopen(s_azTmp, "w");
    bool bOk = fp != nullptr && fwrite(conf.data(), 1, conf.size(), fp) == conf.size()
               && fflush(fp) == 0 && fsync(fileno(fp)) == 0;
    if (fp != nullptr && fclose(fp) != 0)
        bOk = false;
    if (!bOk || rename(s_azTmp, LIGHTTPD_CONF) != 0) {
        unlink(s_azTmp);
        Debug_Log("[%s]: %s: create config file fail!\n", log_Time(), __func__);
        return -1;
    }
    return 0;
}
