#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "net/Dot1x.h"
#include "tests/support/Files.h"

// What the recording stand-ins ran since the test began.
struct Dot1xTest : public testing::Test {
    size_t offset = File_Read("/board/calls.log").size();
    std::string Calls() { return File_Calls("/board/calls.log", offset); }
};

TEST_F(Dot1xTest, StartWritesConfigAndRunsSupplicant)
{
    ASSERT_EQ(0, MAIN_8021xClient_Start("alice", "p a$s'w`rd"));
    const std::string conf = File_Read(DOT1X_CONF);
    EXPECT_NE(std::string::npos, conf.find("\tidentity=\"alice\"\n"));
    EXPECT_NE(std::string::npos, conf.find("\tpassword=\"p a$s'w`rd\"\n"));
    EXPECT_NE(std::string::npos, conf.find("eap=MD5"));
    EXPECT_EQ(0, access("/var/run/wpa_supplicant", F_OK));
    EXPECT_EQ("wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;", Calls());

    File_Write("/tmp/wpa_supplicant.log", "log");
    EXPECT_EQ(0, MAIN_8021xClient_Stop());
    EXPECT_EQ("wpa_supplicant -B -i eth0 -c /tmp/wpa_supplicant.conf -D wired;"
              "wpa_cli -i eth0 logoff;wpa_cli -i eth0 terminate;",
              Calls());
    EXPECT_NE(0, access("/tmp/wpa_supplicant.log", F_OK));
}

// Texts that could end the quotes, escape or start a line are refused, and
// so are texts of 64 characters; 63 pass.
TEST_F(Dot1xTest, RefusesUnsafeCredentials)
{
    for (const std::string &bad : {std::string("a\"b"), std::string("a\\b"), std::string("a\nb"),
                                   std::string("a\tb"), std::string(64, 'u')}) {
        unlink(DOT1X_CONF);
        EXPECT_EQ(-1, MAIN_8021xClient_Start(bad.c_str(), "pw")) << bad;
        EXPECT_EQ(-1, MAIN_8021xClient_Start("user", bad.c_str())) << bad;
        EXPECT_NE(0, access(DOT1X_CONF, F_OK));
    }
    EXPECT_EQ("", Calls());
    EXPECT_EQ(0, MAIN_8021xClient_Start(std::string(63, 'u').c_str(), ""));
}
