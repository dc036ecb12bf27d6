// FTP addresses as the user types them into a profile.
#include <gtest/gtest.h>

#include "InternetSession.h"

namespace {

struct AddressCase {
    const char* text;
    unsigned short defaultPort;
    bool valid;
    const char* host;
    unsigned short port;
};

class AddressTest : public testing::TestWithParam<AddressCase> {};

TEST_P(AddressTest, Splits) {
    const AddressCase& c = GetParam();
    QString host;
    unsigned short port = 0;
    ASSERT_EQ(
        CInternetSession::ParseAddress(QString::fromUtf8(c.text), c.defaultPort, &host, &port),
        c.valid)
        << c.text;
    if (!c.valid)
        return;
    EXPECT_EQ(host, QString::fromUtf8(c.host));
    EXPECT_EQ(port, c.port);
}

const AddressCase kCases[] = {
    {"ftp.example.com", 0, true, "ftp.example.com", 21},
    {"ftp.example.com", 2100, true, "ftp.example.com", 2100},
    {"ftp.example.com:2121", 0, true, "ftp.example.com", 2121},
    {"ftp.example.com:2121", 2100, true, "ftp.example.com", 2121},
    {" 10.0.0.1:65535 ", 0, true, "10.0.0.1", 65535},
    {"[::1]:2121", 0, true, "::1", 2121},
    {"[fe80::1]", 0, true, "fe80::1", 21},
    {"fe80::1", 0, true, "fe80::1", 21},
    {"host:", 0, false, "", 0},
    {"host:0", 0, false, "", 0},
    {"host:65536", 0, false, "", 0},
    {"host:21x", 0, false, "", 0},
    {"host:-1", 0, false, "", 0},
    {":21", 0, false, "", 0},
    {"", 0, false, "", 0},
    {"[::1", 0, false, "", 0},
    {"[::1]x", 0, false, "", 0},
    {"[]:21", 0, false, "", 0},
    {"ftp.example.com/pub", 0, false, "", 0},
};

INSTANTIATE_TEST_SUITE_P(Addresses, AddressTest, testing::ValuesIn(kCases));

} // namespace
