#include "protocol/ProtocolCommands.h"
#include "protocol/ProtocolSetCmd.h"

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
    {"config set alias", CONTAINS, nullptr, protocol_server_handle_config_set_alias, NONE},
    {"config set txid", CONTAINS, nullptr, protocol_server_handle_config_set_id, NONE},
    {"config set id", CONTAINS, nullptr, protocol_server_handle_config_set_id, NONE},
    {"config get id", CONTAINS, protocol_server_getId, nullptr, SENDER},
    {"config set ir voltage", CONTAINS, nullptr, protocol_server_handle_config_set_ir_voltage, NONE},
    {"config get ir voltage", CONTAINS, protocol_server_getIrVoltage, nullptr, SENDER},
    {"config set display mode", CONTAINS, nullptr, protocol_server_handle_config_set_display_mode,
     NONE},
    {"config get display mode", CONTAINS, protocol_server_getDisplayMode, nullptr, SENDER},
    {"config set pwrled mode", CONTAINS, nullptr, protocol_server_handle_config_set_pwrled_mode,
     NONE},
    {"config get pwrled mode", CONTAINS, protocol_server_getPwrLedMode, nullptr, SENDER},
    {"config set hdcp mode", CONTAINS, nullptr, protocol_server_handle_config_set_hdcp_mode, NONE},
    {"config get hdcp mode", CONTAINS, protocol_server_getHdcpMode, nullptr, SENDER},
    {"config set stream dbg", CONTAINS, nullptr, protocol_server_handle_config_set_stream_dbg, NONE},
    {"config get stream dbg", CONTAINS, protocol_server_getStreamDbg, nullptr, SENDER},
    {"config set buttons mode", CONTAINS, nullptr, protocol_server_handle_config_set_buttons_mode,
     NONE},
    {"config get buttons mode", CONTAINS, protocol_server_handle_config_get_buttons_mode, nullptr,
     SENDER},
    {"config set ir mode", CONTAINS, nullptr, protocol_server_handle_config_set_ir_mode, NONE},
    {"config get ir mode", CONTAINS, protocol_server_handle_config_get_ir_mode, nullptr, SENDER},
    {"config remove alias", CONTAINS, protocol_server_handle_config_remove_alias, nullptr, NONE},
    {"config get net params", CONTAINS, protocol_server_handle_config_get_net_params, nullptr,
     SENDER},
    {"config set net params", CONTAINS, nullptr, protocol_server_handle_config_set_net_params,
     GROUP},
    {"config set tx audio format", CONTAINS, nullptr,
     protocol_server_handle_config_set_tx_audio_format, NONE},
    {"matrix get", EQUALS, protocol_server_handle_matrix_get, nullptr, SENDER},
    {"matrix set", EQUALS, nullptr, protocol_server_handle_matrix_set, NONE},
    {"matrix clear", EQUALS, protocol_server_handle_matrix_clear, nullptr, NONE},
    {"serial get params", CONTAINS, protocol_server_handle_serial_get_params, nullptr, SENDER},
    {"serial set params", CONTAINS, nullptr, protocol_server_handle_serial_set_params, NONE},
    {"serial matrix get", EQUALS, protocol_server_handle_serial_matrix_get, nullptr, SENDER},
    {"serial matrix set", EQUALS, nullptr, protocol_server_handle_serial_matrix_set, NONE},
    {"serial matrix clear", EQUALS, protocol_server_handle_serial_matrix_clear, nullptr, NONE},
    {"serial data", EQUALS, nullptr, protocol_server_handle_serial_data, NONE},
    {"ir matrix get", EQUALS, protocol_server_handle_ir_matrix_get, nullptr, SENDER},
    {"ir matrix set", EQUALS, nullptr, protocol_server_handle_ir_matrix_set, NONE},
    {"ir matrix clear", EQUALS, protocol_server_handle_ir_matrix_clear, nullptr, NONE},
    {"ir data", EQUALS, nullptr, protocol_server_handle_ir_data, NONE},
    {"stream get", EQUALS, protocol_server_handle_stream_get, nullptr, SENDER},
    {"ip get", EQUALS, protocol_server_handle_ip_get, nullptr, SENDER},
    {"update rx", EQUALS, nullptr, protocol_server_handle_update_rx, SENDER},
    {"update tx", EQUALS, nullptr, protocol_server_handle_update_tx, SENDER},
    {"edid set", EQUALS, nullptr, protocol_server_handle_edid_set, NONE},
    {"edid user set", EQUALS, nullptr, protocol_server_handle_edid_user_set, NONE},
    {"edid index set", EQUALS, nullptr, protocol_server_handle_edid_index_set, NONE},
    {"edid copy", EQUALS, nullptr, protocol_server_handle_edid_copy, NONE},
    {"config set tx indexedid", CONTAINS, nullptr, protocol_server_handle_config_set_tx_indexedid,
     NONE},
    {"config get tx indexedid", CONTAINS, protocol_server_handle_config_get_tx_indexedid, nullptr,
     SENDER},
    {"iframe get", EQUALS, protocol_server_handle_iframe_get, nullptr, NONE},
    {"device showme", EQUALS, protocol_server_handle_device_showme, nullptr, NONE},
    {"device reboot", EQUALS, protocol_server_handle_device_reboot, nullptr, NONE},
    {"device factory", EQUALS, protocol_server_factory, nullptr, NONE},
};

const u32 g_u32ProtocolCommandCount = ARRAY_SIZE(g_astProtocolCommands);
