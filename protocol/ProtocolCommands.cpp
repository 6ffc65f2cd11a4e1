#include "protocol/ProtocolCommands.h"

#include "protocol/ProtocolStreamCmds.h"

// Short names that keep each row on one line.
static constexpr ProtocolMatch_E CONTAINS = PROTOCOL_MATCH_CONTAINS;
static constexpr ProtocolMatch_E EQUALS = PROTOCOL_MATCH_EQUALS;
static constexpr ProtocolReplyTo_E NONE = PROTOCOL_REPLY_NONE;
static constexpr ProtocolReplyTo_E SENDER = PROTOCOL_REPLY_SENDER;
static constexpr ProtocolReplyTo_E GROUP = PROTOCOL_REPLY_GROUP;

// In matching order: the first row that matches wins, so a pattern that a
// longer one contains must stand after the longer one.
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
    {"stream get", EQUALS, protocol_server_handle_stream_get, nullptr, SENDER},
    {"ip get", EQUALS, protocol_server_handle_ip_get, nullptr, SENDER},
    {"update rx", EQUALS, nullptr, protocol_server_handle_update_rx, SENDER},
    {"update tx", EQUALS, nullptr, protocol_server_handle_update_tx, SENDER},
    {"edid set", EQUALS, nullptr, protocol_server_handle_edid_set, NONE},
    {"edid user set", EQUALS, nullptr, protocol_server_handle_edid_user_set, NONE},
    {"edid index set", EQUALS, nullptr, protocol_server_handle_edid_index_set, NONE},
    {"edid copy", EQUALS, nullptr, protocol_server_handle_edid_copy, NONE},
    {"device factory", EQUALS, protocol_server_factory, nullptr, NONE},
};

const u32 g_u32ProtocolCommandCount = ARRAY_SIZE(g_astProtocolCommands);
