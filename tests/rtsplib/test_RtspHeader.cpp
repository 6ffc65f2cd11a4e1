#include <gtest/gtest.h>

#include <string>

#include "rtsplib/src/rtsp/RtspHeader.h"

// Every parameter is read; unknown ones and bare names are ignored; a
// single port or channel names a pair; defaults where nothing is given.
TEST(RtspHeaderTest, TransportParameters)
{
    RtspHeaderTransport_S ast[RTSP_TRANSPORT_MAX];
    ASSERT_EQ(1, rtsp_header_transport("RTP/AVP/UDP;multicast;destination=234.0.100.1;source=10.0.0.5;port=5002-5003;"
                                       "ttl=127;layers=2;ssrc=0A0b0C0d;mode=\"RECORD\";append;"
                                       "server_port=6000-6001;unknown=1;x",
                                       ast, RTSP_TRANSPORT_MAX));
    EXPECT_EQ(RTSP_TRANSPORT_RTP_UDP, ast[0].enTransport);
    EXPECT_TRUE(ast[0].bMulticast && ast[0].bAppend && ast[0].bSsrc);
    EXPECT_STREQ("234.0.100.1", ast[0].azDestination);
    EXPECT_STREQ("10.0.0.5", ast[0].azSource);
    EXPECT_EQ(5003, ast[0].au16Port[1]);
    EXPECT_EQ(6000, ast[0].au16ServerPort[0]);
    EXPECT_EQ(127, ast[0].s32Ttl);
    EXPECT_EQ(2u, ast[0].u32Layers);
    EXPECT_EQ(0x0A0B0C0Du, ast[0].u32Ssrc);
    EXPECT_EQ(RTSP_TRANSPORT_RECORD, ast[0].enMode);
    ASSERT_EQ(3, rtsp_header_transport(" RTP/AVP/TCP;interleaved=4 , RTP/AVP;destination;client_port=5000, RAW/RAW/UDP",
                                       ast, RTSP_TRANSPORT_MAX));
    EXPECT_EQ(RTSP_TRANSPORT_RTP_TCP, ast[0].enTransport);
    EXPECT_FALSE(ast[0].bMulticast);
    EXPECT_EQ(RTSP_TRANSPORT_PLAY, ast[0].enMode);
    EXPECT_EQ(5, ast[0].as32Interleaved[1]);
    EXPECT_EQ(-1, ast[0].s32Ttl);
    EXPECT_EQ(-1, ast[1].as32Interleaved[0]);
    EXPECT_STREQ("", ast[1].azDestination);
    EXPECT_EQ(5001, ast[1].au16ClientPort[1]);
    EXPECT_EQ(RTSP_TRANSPORT_RAW, ast[2].enTransport);
    EXPECT_EQ(2, rtsp_header_transport("RTP/AVP,RTP/AVP,RTP/AVP", ast, 2));   // only as many as asked for
}

TEST(RtspHeaderTest, TransportRefusesValuesOutOfRange)
{
    RtspHeaderTransport_S ast[RTSP_TRANSPORT_MAX];
    for (const char *psz : {"", "TCP", "RTP/AVP;client_port=0-1", "RTP/AVP;client_port=65535",
                            "RTP/AVP;client_port=1-65536", "RTP/AVP;client_port=a-b", "RTP/AVP/TCP;interleaved=255",
                            "RTP/AVP/TCP;interleaved=0-256", "RTP/AVP;destination=host.example",
                            "RTP/AVP;destination=1.2.3.4.5", "RTP/AVP;source=::1", "RTP/AVP;ttl=256",
                            "RTP/AVP;ssrc=123456789", "RTP/AVP;ssrc=xyz", "RTP/AVP;layers=0",
                            "RTP/AVP;unicast,BAD/PROTO", "RTP/AVP;client_port=4294967297",
                            "RTP/AVP;client_port=65537-65538", "RTP/AVP;port=18446744073709551617",
                            "RTP/AVP;ttl=4294967297", "RTP/AVP;layers=4294967297",
                            "RTP/AVP/TCP;interleaved=4294967296-4294967297"})
        EXPECT_EQ(-1, rtsp_header_transport(psz, ast, RTSP_TRANSPORT_MAX)) << psz;
}

TEST(RtspHeaderTest, SessionIdAndTimeout)
{
    RtspHeaderSession_S st;
    ASSERT_EQ(0, rtsp_header_session(" 1234abcd ;timeout=60", &st));
    EXPECT_STREQ("1234abcd", st.azSession);
    EXPECT_EQ(60u, st.u32Timeout);
    ASSERT_EQ(0, rtsp_header_session("-12345", &st));
    EXPECT_STREQ("-12345", st.azSession);
    EXPECT_EQ(0u, st.u32Timeout);
    for (const std::string &str : {std::string(), std::string(";timeout=5"), std::string("abc;timeout=x"),
                                   std::string("abc;timeout=4294967297"), std::string("abc;timeout=18446744073709551617"),
                                   std::string(RTSP_SESSION_ID_LEN + 1, 's')})
        EXPECT_EQ(-1, rtsp_header_session(str.c_str(), &st)) << str;
}

// (A whole npt range: the server tests.)
TEST(RtspHeaderTest, RangeForms)
{
    RtspHeaderRange_S st;
    ASSERT_EQ(0, rtsp_header_range("npt=now-", &st));
    EXPECT_EQ(RTSP_RANGE_TIME_NOW, st.enFrom);
    EXPECT_EQ(RTSP_RANGE_TIME_NOVALUE, st.enTo);
    ASSERT_EQ(0, rtsp_header_range("npt=-7.25", &st));
    EXPECT_EQ(RTSP_RANGE_TIME_NOVALUE, st.enFrom);
    EXPECT_EQ(7250u, st.u64To);
    ASSERT_EQ(0, rtsp_header_range("smpte-25=00:00:01:05-", &st));
    EXPECT_EQ(RTSP_RANGE_SMPTE_25, st.enType);
    EXPECT_EQ(1200u, st.u64From);
    ASSERT_EQ(0, rtsp_header_range("clock=19700101T000001.5Z-19700102T000000Z;time=19700101T000010Z", &st));
    EXPECT_EQ(RTSP_RANGE_CLOCK, st.enType);
    EXPECT_EQ(1500u, st.u64From);
    EXPECT_EQ(86400000u, st.u64To);
    EXPECT_EQ(10000u, st.u64Time);
    for (const char *psz : {"", "npt=", "npt=-", "npt=1", "npt=x-", "npt=1.2.3-", "smpte=1:2-", "smpte=00:60:00-",
                            "clock=1970-", "clock=19701301T000000Z-", "bogus=1-2", "npt=1-;time=bad",
                            "npt=18446744073709551617-",
                            "smpte=18446744073709551617:00:00-"})
        EXPECT_EQ(-1, rtsp_header_range(psz, &st)) << psz;
}
