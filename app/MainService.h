// The system services that the supervisor switches (the SSH and telnet
// daemons, external programs) and the system password file.
#ifndef APP_MAINSERVICE_H
#define APP_MAINSERVICE_H

#include "core/Types.h"

#define SERVICE_SSH_START    "/customer/ssh/dropbear -r /customer/ssh/key/dropbear_rsa_host_key"
#define SERVICE_PASSWD_FILE  "/customer/passwd"
#define SERVICE_CMD_LEN      128

// Starts the SSH daemon (it detaches itself); -1 when it cannot be run, else 0.
s32 MAIN_SshServer_Start(void);
// Kills every SSH daemon; 0.
s32 MAIN_SshServer_Stop(void);
// Starts a telnet daemon on the port in the background; -1 when it cannot
// be run, else 0.
s32 MAIN_TelnetServer_Start(s32 s32Port);
// Kills every telnet daemon; 0.
s32 MAIN_TelnetServer_Stop(void);
// The board's pins need no set-up by the program; 0.
s32 MAIN_init_pinmux(void);
// Moves a delivered "/customer/passwd" over "/etc/passwd"; always 0.
s32 MAIN_Init_SysPassword(void);

#endif
