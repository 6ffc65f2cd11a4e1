#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "web/Lighttpd.h"

TEST(LighttpdTest, WritesHttpOrHttpsWithRedirect)
{
    ASSERT_EQ(0, MAIN_lighttpd_https_config(0, 8080));
    std::string http = File_Read(LIGHTTPD_CONF);
    EXPECT_NE(std::string::npos, http.find("server.port = 8080\n"));
    EXPECT_EQ(std::string::npos, http.find("ssl.engine"));

    ASSERT_EQ(0, MAIN_lighttpd_https_config(1, 81));
    std::string https = File_Read(LIGHTTPD_CONF);
    EXPECT_NE(std::string::npos, https.find("server.port = 81\n"));
    EXPECT_NE(std::string::npos, https.find("$SERVER[\"socket\"] == \":443\""));
    EXPECT_NE(std::string::npos, https.find("ssl.pemfile = \"/customer/cacert.pem\""));
    EXPECT_NE(std::string::npos, https.find("$SERVER[\"socket\"] == \":81\""));
    EXPECT_NE(std::string::npos, https.find("url.redirect"));
}

// A file that cannot be written leaves the old one and says so.
TEST(LighttpdTest, FailureKeepsOldFile)
{
    ASSERT_EQ(0, MAIN_lighttpd_https_config(0, 80));
    std::string before = File_Read(LIGHTTPD_CONF);
    ASSERT_EQ(0, mkdir(LIGHTTPD_CONF ".tmp", 0755));   // the temporary name is taken
    std::string out = Child_Run([] { printf("<%d>", MAIN_lighttpd_https_config(1, 80)); });
    rmdir(LIGHTTPD_CONF ".tmp");
    EXPECT_NE(std::string::npos, out.find("<-1>"));
    EXPECT_NE(std::string::npos, out.find("MAIN_lighttpd_https_config: create config file fail!\n"));
    EXPECT_EQ(before, File_Read(LIGHTTPD_CONF));
}
