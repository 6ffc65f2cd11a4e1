// Configuration of the external web server.
#ifndef WEB_LIGHTTPD_H
#define WEB_LIGHTTPD_H

#include "core/Types.h"

#define LIGHTTPD_CONF  "/customer/config/lighttpd.conf"
#define LIGHTTPD_CERT  "/customer/cacert.pem"
#define LIGHTTPD_KEY   "/customer/privkey.pem"

// Writes LIGHTTPD_CONF for HTTP on u32Port, or with s32Https 1 for HTTPS on
// 443 with the HTTP port redirected to it. 0, or -1 when the file cannot be
// written (the old file then stays).
s32 MAIN_lighttpd_https_config(s32 s32Https, u32 u32Port);

#endif
