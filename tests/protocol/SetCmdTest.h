// A protocol server with the box's own callback table and a known settings
// record, whose handlers the tests call directly with request texts.
#ifndef TESTS_PROTOCOL_SETCMDTEST_H
#define TESTS_PROTOCOL_SETCMDTEST_H

#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <string>

#include "protocol/ProtocolCommands.h"
#include "protocol/ProtocolServer.h"

#define SETCMD_DEVICE_ID "02000000aa01"

struct SetCmdTest : public testing::Test {
    ProtocolServer_S stServer{};
    ProtocolRequestHead_S stHead{};
    char azReply[PROTOCOL_BUF_LEN] = {};
    cJSON *pstReply = nullptr;

    void SetUp() override;
    void TearDown() override;
    // The request text with "request" first and the body members after it.
    static std::string Request(const std::string &cmd, const std::string &body = "");
    // Runs a handler with a body (or without one when pfnHead is given) and
    // keeps the parsed reply; returns the handler's result.
    s32 Run(ProtocolHandleBody_F *pfnBody, const std::string &cmd, const std::string &body = "");
    s32 Run(ProtocolHandleHead_F *pfnHead, const std::string &cmd);
    // A handler with a body given the whole request text as it is.
    s32 RunText(ProtocolHandleBody_F *pfnBody, const std::string &cmd, const std::string &text);
    std::string Status();
    std::string Text(const char *pszBody, const char *pszKey);
    double Number(const char *pszBody, const char *pszKey);
    // The members of the reply's root, in order.
    std::string Members();
};

#endif
