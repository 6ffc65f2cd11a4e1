#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"
#include "web/Lighttpd.h"
#include "web/Pipe.h"

struct PipeSplitTest : public testing::Test {
    std::string buf, cmd;
    std::vector<std::string> All()
    {
        std::vector<std::string> v;
        while (Pipe_NextCommand(&buf, &cmd) == 1)
            v.push_back(cmd);
        return v;
    }
};

// Several commands in one read come out one by one, noise between them is
// skipped, and braces or quotes inside strings do not end an object.
TEST_F(PipeSplitTest, SplitsWholeObjects)
{
    buf = "\n{\"comhead\":\"a\"}junk{\"comhead\":\"b\",\"v\":{\"x\":\"}\\\"{\"}}  {\"c\":";
    EXPECT_EQ((std::vector<std::string>{"{\"comhead\":\"a\"}",
                                        "{\"comhead\":\"b\",\"v\":{\"x\":\"}\\\"{\"}}"}),
              All());
    EXPECT_EQ("{\"c\":", buf);           // kept for the next read
    buf += "\"\\\\\"}";
    EXPECT_EQ((std::vector<std::string>{"{\"c\":\"\\\\\"}"}), All());
    EXPECT_EQ("", buf);
}

TEST_F(PipeSplitTest, DropsObjectsPastTheLimit)
{
    buf = "{\"a\":\"" + std::string(PIPE_MAX_CMD, 'x');
    EXPECT_EQ(-1, Pipe_NextCommand(&buf, &cmd));
    EXPECT_EQ("", buf);
    buf = "only noise";
    EXPECT_EQ(0, Pipe_NextCommand(&buf, &cmd));
    EXPECT_EQ("", buf);
}

// Every command through the FIFOs is answered, naming its unknown comhead;
// a command split over two writes is still one command.
struct PipeThreadTest : public testing::Test {
    int s32In = -1, s32Out = -1;
    // One bridge for the whole program: two would share the FIFO's bytes.
    static void SetUpTestSuite() { ASSERT_EQ(0, MAIN_Pipe_Start()); }
    void SetUp() override
    {
        for (int i = 0; i < 100 && (s32In < 0 || s32Out < 0); i++, usleep(10000)) {
            if (s32In < 0)
                s32In = open(PIPE_C2S, O_WRONLY | O_NONBLOCK);
            if (s32Out < 0)
                s32Out = open(PIPE_S2C, O_RDONLY | O_NONBLOCK);
        }
        ASSERT_GE(s32In, 0);
        ASSERT_GE(s32Out, 0);
    }
    void TearDown() override
    {
        close(s32In);
        close(s32Out);
    }
    void Write(const std::string &s)
    {
        for (size_t u = 0; u < s.size();) {
            ssize_t n = write(s32In, s.data() + u, s.size() - u);
            if (n > 0)
                u += (size_t)n;
            else
                usleep(1000);   // the bridge drains the FIFO
        }
    }
};

TEST_F(PipeThreadTest, AnswersEveryCommand)
{
    std::string a = "{\"comhead\":\"GetDevInfo\"}{\"comhead\":\"Set", b = "Net\"}{\"x\":1}";
    ASSERT_EQ((ssize_t)a.size(), write(s32In, a.data(), a.size()));
    usleep(100 * 1000);
    ASSERT_EQ((ssize_t)b.size(), write(s32In, b.data(), b.size()));
    std::string want = "{\"comhead\":\"GetDevInfo\",\"result\":-1,\"msg\":\"unknown comhead\"}"
                       "{\"comhead\":\"SetNet\",\"result\":-1,\"msg\":\"unknown comhead\"}"
                       "{\"result\":-1,\"msg\":\"no comhead\"}";
    EXPECT_EQ(want, Pty_Read(s32Out, want.size(), 2000));
}

// A broken command (a quote never closed) or the rest of one too long to
// take must not swallow the commands that follow once the writer paused.
TEST_F(PipeThreadTest, BrokenCommandsDoNotSwallowLaterOnes)
{
    const std::string known = "{\"comhead\":\"F\",\"result\":-1,\"msg\":\"unknown comhead\"}";
    Write("{\"comhead\":\"E}");
    usleep(1500 * 1000);
    Write("{\"comhead\":\"F\"}");
    std::string want = "{\"result\":-1,\"msg\":\"incomplete command\"}" + known;
    EXPECT_EQ(want, Pty_Read(s32Out, want.size() + 1, 2000));

    Write("{\"comhead\":\"" + std::string(PIPE_MAX_CMD + 8192, '{') + "\"}");
    usleep(1500 * 1000);
    Write("{\"comhead\":\"F\"}");
    want = "{\"result\":-1,\"msg\":\"command too long\"}" + known;
    EXPECT_EQ(want, Pty_Read(s32Out, want.size() + 1, 2000));
}

// A flood of unknown commands is answered whole but logged in a line or
// two, and a comhead cannot forge a log line.
TEST_F(PipeThreadTest, FloodOfCommandsLogsAFewLines)
{
    const std::string cmd = "{\"comhead\":\"x\\n[01 00:00:00.000]: forged\"}";
    const std::string reply = "{\"comhead\":\"x\\n[01 00:00:00.000]: forged\",\"result\":-1,\"msg\":\"unknown comhead\"}";
    std::string cmds, want;
    for (int i = 0; i < 500; i++) {
        cmds += cmd;
        want += reply;
    }
    testing::internal::CaptureStdout();
    Write(cmds);
    EXPECT_EQ(want, Pty_Read(s32Out, want.size(), 5000));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_EQ(std::string::npos, out.find("\n[01 00:00:00.000]: forged")) << out;
}

TEST(LighttpdTest, WritesHttpOrHttpsWithRedirectAndKeepsTheOldFileOnFailure)
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

    // A file that cannot be written leaves the old one and says so.
    ASSERT_EQ(0, mkdir(LIGHTTPD_CONF ".tmp", 0755));   // the temporary name is taken
    std::string out = Child_Run([] { printf("<%d>", MAIN_lighttpd_https_config(0, 80)); });
    rmdir(LIGHTTPD_CONF ".tmp");
    EXPECT_NE(std::string::npos, out.find("<-1>"));
    EXPECT_NE(std::string::npos, out.find("MAIN_lighttpd_https_config: create config file fail!\n"));
    EXPECT_EQ(https, File_Read(LIGHTTPD_CONF));
}
