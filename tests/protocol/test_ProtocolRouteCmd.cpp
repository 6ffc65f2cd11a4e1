#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/Main.h"
#include "config/Config.h"
#include "extension/Soip.h"
#include "extension/Uart.h"
#include "protocol/Base64.h"
#include "protocol/ProtocolSetCmd.h"
#include "tests/protocol/SetCmdTest.h"
#include "tests/support/Pty.h"

static std::string s_sentData;
static s32 s_s32SentCalls;

static s32 Test_RecordData(void *pUser, const u8 *pu8Data, u32 u32Len)
{
    (void)pUser;
    s_sentData.assign((const char *)pu8Data, u32Len);
    s_s32SentCalls++;
    return 0;
}

// The "data" member carrying the bytes in base64.
static std::string Test_Data(const std::string &bytes)
{
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    base64_encode_qelto(&out[0], bytes.data(), (u32)bytes.size());
    return "\"data\":\"" + out + "\"";
}

struct RouteFamily {
    const char *name, *body;
    ProtocolHandleHead_F *get;
    ProtocolHandleBody_F *set;
    ProtocolHandleHead_F *clear;
};

static const RouteFamily s_astFamilies[] = {
    {"serial", "serialsource", protocol_server_handle_serial_matrix_get,
     protocol_server_handle_serial_matrix_set, protocol_server_handle_serial_matrix_clear},
    {"ir", "irsource", protocol_server_handle_ir_matrix_get, protocol_server_handle_ir_matrix_set,
     protocol_server_handle_ir_matrix_clear},
};

// Set and clear answer; the values read back (end-to-end covers the first get).
TEST_F(SetCmdTest, RoutesRoundTrip)
{
    for (const auto &f : s_astFamilies) {
        SCOPED_TRACE(f.name);
        ASSERT_GT(
            Run(f.set, "matrix set", std::string("\"") + f.body + "\":{\"txid\":\"112233445566\"}"),
            0);
        EXPECT_EQ("success", Status());
        ASSERT_GT(Run(f.get, "matrix get"), 0);
        EXPECT_EQ("112233445566", Text(f.body, "txid"));
        ASSERT_GT(Run(f.clear, "matrix clear"), 0);
        EXPECT_EQ("ack", Members());
        EXPECT_EQ("success", Status());
        ASSERT_GT(Run(f.get, "matrix get"), 0);
        EXPECT_EQ("000000000000", Text(f.body, "txid"));
    }
    EXPECT_EQ(0, g_stConfigAttr.stSerialMatrix.s32Enable);
    EXPECT_STREQ("000000000000", g_stConfigAttr.stIrMatrix.azTxId);
}

// A transmitter keeps no video route: set succeeds, get reports none.
TEST_F(SetCmdTest, VideoRouteIsNotKept)
{
    ASSERT_GT(Run(protocol_server_handle_matrix_set, "matrix set", "\"rxsource\":{\"txid\":\"1\"}"),
              0);
    EXPECT_EQ("success", Status());
    ASSERT_GT(Run(protocol_server_handle_matrix_get, "matrix get"), 0);
    EXPECT_EQ(SETCMD_DEVICE_ID, Text("rxsource", "rxid"));
    EXPECT_EQ("000000000000", Text("rxsource", "txid"));
}

// A transmitter id unfit to keep is refused, one too long cut to its field;
// a request without the body or its id gets no reply.
TEST_F(SetCmdTest, RouteSetRefusals)
{
    g_stConfigAttr.stSerialMatrix = {1, "aabbccddeeff"};
    ASSERT_GT(Run(protocol_server_handle_ir_matrix_set, "ir matrix set",
                  "\"irsource\":{\"txid\":\"" + std::string(40, '1') + "\"}"),
              0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(std::string(31, '1'), g_stConfigAttr.stIrMatrix.azTxId);
    for (const std::string &txid :
         {std::string("ab\\\"c"), std::string("a\\u0001"), std::string("aa\xfe")}) {
        ASSERT_GT(Run(protocol_server_handle_serial_matrix_set, "serial matrix set",
                      "\"serialsource\":{\"txid\":\"" + txid + "\"}"),
                  0)
            << txid;
        EXPECT_EQ("failure", Status()) << txid;
        EXPECT_STREQ("aabbccddeeff", g_stConfigAttr.stSerialMatrix.azTxId) << txid;
    }
    EXPECT_EQ(-1, Run(protocol_server_handle_serial_matrix_set, "serial matrix set",
                      "\"irsource\":{\"txid\":\"1\"}"));
    EXPECT_EQ(-1, Run(protocol_server_handle_serial_matrix_set, "serial matrix set",
                      "\"serialsource\":{}"));
}

// Serial parameters in the protocol's coding are stored in the record's;
// what the port cannot take falls back; only a change reopens the port.
TEST_F(SetCmdTest, SerialParamsStoredAndTranslated)
{
    UartSetAttr_S &stSet = g_stMainServerAttr.stHalAttr.stUart.stSetAttr;
    stSet = {10, 8, 0, 0};
    const struct {
        const char *baud, *bits, *parity, *stop;
        u32 stored[4];
        UartSetAttr_S uart;
        s32 reopen;
    } cases[] = {
        {"115200", "8", "0", "1", {115200, 8, 0, 1}, {10, 8, 0, 0}, 0},
        {"9600", "7", "1", "2", {9600, 7, 2, 2}, {6, 7, 2, 2}, 1},
        {"9600", "7", "2", "2", {9600, 7, 1, 2}, {6, 7, 1, 2}, 1},
        {"14400", "9", "0", "3", {115200, 8, 0, 1}, {10, 8, 0, 0}, 1},
        {"115200", "8", "7", "1", {115200, 8, 0, 1}, {10, 8, 0, 0}, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.baud) + " " + c.bits + " " + c.parity + " " + c.stop);
        g_stUartServer.bReopen = 0;
        ASSERT_GT(Run(protocol_server_handle_serial_set_params, "serial set params",
                      std::string("\"serialparams\":{\"baudrate\":\"") + c.baud + "\",\"databits\":\"" +
                          c.bits + "\",\"parity\":\"" + c.parity + "\",\"stopbits\":\"" + c.stop + "\"}"),
                  0);
        EXPECT_EQ("success", Status());
        const ConfigSerialAttr_S &s = g_stConfigAttr.stSerialAttr;
        EXPECT_EQ(std::vector<u32>(c.stored, c.stored + 4),
                  (std::vector<u32>{s.u32Baudrate, s.u32Databits, s.u32Parity, s.u32Stopbits}));
        EXPECT_EQ(0, memcmp(&c.uart, &stSet, sizeof(stSet)));
        EXPECT_EQ(c.reopen, g_stUartServer.bReopen);
    }
    EXPECT_EQ(
        -1, Run(protocol_server_handle_serial_set_params, "serial set params",
                "\"serialparams\":{\"baudrate\":\"9600\",\"databits\":\"8\",\"stopbits\":\"1\"}"));
    EXPECT_EQ(115200u, g_stConfigAttr.stSerialAttr.u32Baudrate);
    // A rate past 32 bits is refused, not taken as its low 32 bits (9600).
    ASSERT_GT(Run(protocol_server_handle_serial_set_params, "serial set params",
                  "\"serialparams\":{\"baudrate\":\"4294976896\",\"databits\":\"8\",\"parity\":\"0\","
                  "\"stopbits\":\"1\"}"),
              0);
    EXPECT_EQ("failure", Status());
    EXPECT_EQ(115200u, g_stConfigAttr.stSerialAttr.u32Baudrate);
}

// The getter reads the stored record, not the last request: parity reads
// back in the protocol's coding, every value as a text.
TEST_F(SetCmdTest, SerialParamsReportedAsTexts)
{
    g_stConfigAttr.stSerialAttr = {57600, 7, 2, 2};
    ASSERT_GT(Run(protocol_server_handle_serial_get_params, "serial get params"), 0);
    EXPECT_EQ("ack,serialparams", Members());
    EXPECT_EQ("57600", Text("serialparams", "baudrate"));
    EXPECT_EQ("7", Text("serialparams", "databits"));
    EXPECT_EQ("1", Text("serialparams", "parity"));
    EXPECT_EQ("2", Text("serialparams", "stopbits"));
}

// End-to-end sends serial data through; here a closed port fails it.
TEST_F(SetCmdTest, SerialDataFailsOnAClosedPort)
{
    UartAttr_S &stUart = g_stMainServerAttr.stHalAttr.stUart;
    int s32Master = Pty_Attach("/dev/ttyS0");
    ASSERT_GE(s32Master, 0);
    stUart.u32Port = 0;
    stUart.stSetAttr = {10, 8, 0, 0};
    ASSERT_EQ(0, MAIN_Uart_Init(&stUart));
    MAIN_Uart_Close(&stUart);
    ASSERT_GT(Run(protocol_server_handle_serial_data, "serial data", "\"data\":\"AQID\""), 0);
    EXPECT_EQ("failure", Status());
    close(s32Master);
}

// An infrared payload keeps its byte count; one that is not padded base64
// is refused without reaching the sender.
TEST_F(SetCmdTest, IrDataWholeOrRefused)
{
    stServer.stCallback.onrecvIrData = Test_RecordData;
    for (size_t n : {size_t(10), size_t(300), size_t(0)}) {
        s_s32SentCalls = 0;
        std::string bytes; // zeros and every other byte value
        for (size_t i = 0; i < n; i++)
            bytes += (char)(i % 256);
        ASSERT_GT(Run(protocol_server_handle_ir_data, "ir data", Test_Data(bytes)), 0);
        EXPECT_EQ("success", Status()) << n;
        EXPECT_EQ(1, s_s32SentCalls) << n;
        EXPECT_EQ(bytes, s_sentData) << n;
    }
    s_s32SentCalls = 0;
    ASSERT_GT(Run(protocol_server_handle_ir_data, "ir data", "\"data\":\"AQ!D\""), 0);
    EXPECT_EQ("failure", Status());
    EXPECT_EQ(0, s_s32SentCalls);
    EXPECT_EQ(-1, Run(protocol_server_handle_ir_data, "ir data", "\"data\":12"));
    EXPECT_EQ(-1, Run(protocol_server_handle_ir_data, "ir data", "\"bytes\":\"AQID\""));
}

TEST(ProtocolPayload, DecodesPaddedBase64Only)
{
    u8 au8[PROTOCOL_PAYLOAD_LEN];
    const struct {
        std::string text;
        s32 len;
    } cases[] = {
        {"", 0},       {"AQID", 3},     {"AQI=", 2},     {"AQ==", 1},      {"====", -1},
        {"AQ=D", -1},  {"A===", -1},    {"AQI", -1},     {"AQIDBA", -1},   {"AQ!D", -1},
        {"AQ\x01D", -1}, {std::string(2000, 'A'), 1500}, {std::string(2004, 'A'), -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.len, protocol_payload_decode(c.text.c_str(), au8)) << c.text.substr(0, 8);
    ASSERT_EQ(3, protocol_payload_decode("AQID", au8));
    EXPECT_EQ(1, au8[0]);
    EXPECT_EQ(3, au8[2]);
}
