#include "protocol/ProtocolCommands.h"

#define CONTAINS PROTOCOL_MATCH_CONTAINS
#define EQUALS   PROTOCOL_MATCH_EQUALS
#define NONE     PROTOCOL_REPLY_NONE
#define SENDER   PROTOCOL_REPLY_SENDER
#define GROUP    PROTOCOL_REPLY_GROUP

// In matching order: the first row that matches wins, so a pattern that
// another one contains ("config get id" in "config get idx") must stand
// after it.
const ProtocolCommand_S g_astProtocolCommands[] = {
    {"config get device", CONTAINS, protocol_server_getDevice, nullptr, GROUP},
    {"config get tx params", CONTAINS, protocol_server_getTxParams, nullptr, SENDER},
    {"config set tx params", CONTAINS, nullptr, protocol_server_setTxParams, NONE},
    {"config get rx params", CONTAINS, protocol_server_getRxParams, nullptr, SENDER},
    {"config set rx params", CONTAINS, nullptr, protocol_server_setRxParams, NONE},
    {"config get id", CONTAINS, protocol_server_getId, nullptr, SENDER},
    {"config get ir voltage", CONTAINS, protocol_server_getIrVoltage, nullptr, SENDER},
    {"config get display mode", CONTAINS, protocol_server_getDisplayMode, nullptr, SENDER},
    {"config get pwrled mode", CONTAINS, protocol_server_getPwrLedMode, nullptr, SENDER},
    {"config get hdcp mode", CONTAINS, protocol_server_getHdcpMode, nullptr, SENDER},
    {"config get stream dbg", CONTAINS, protocol_server_getStreamDbg, nullptr, SENDER},
    {"device factory", EQUALS, protocol_server_factory, nullptr, NONE},
};

const u32 g_u32ProtocolCommandCount = ARRAY_SIZE(g_astProtocolCommands);
