// What the network tests share: an eth0 of their own in the isolated
// network namespace, and reading what the kernel and the stand-ins hold.
#ifndef TESTS_NET_NETTEST_H
#define TESTS_NET_NETTEST_H

#include <gtest/gtest.h>

#include <string>

// Output of a shell command.
std::string Net_Sh(const std::string &cmd);

// A fresh eth0 (one end of a veth pair) for each test.
struct NetTest : public testing::Test {
    void SetUp() override;
    void TearDown() override;
};

#endif
