// FTP addresses as the user types them into a profile.
#include <gtest/gtest.h>

#include "FtpConnection.h"
#include "InternetSession.h"
#include "TlsLayer.h"

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

TEST(FtpScheme, AddressFormsAndTheirTls) {
    struct Case {
        const char* address;
        bool ok;
        const char* rest;
        TlsMode mode;
    };
    const Case cases[] = {
        {"host", true, "host", TlsMode::Auto},
        {" host:2121 ", true, "host:2121", TlsMode::Auto},
        {"host:990", true, "host:990", TlsMode::Auto}, // a bare host keeps its meaning
        {"ftps://host", true, "host", TlsMode::Required},
        {"ftps://host:21", true, "host:21", TlsMode::Required},
        {"ftps://host:9900", true, "host:9900", TlsMode::Required},
        {"FtPs://host:990/", true, "host:990", TlsMode::Implicit},
        {"ftps://[::1]:990", true, "[::1]:990", TlsMode::Implicit},
        {"ftps://::990", true, "::990", TlsMode::Required}, // a bare IPv6 address, port 21
        {"ftpes://host", true, "host", TlsMode::Required},
        {"FTPES://host:990", true, "host:990", TlsMode::Required},
        {"ftpes://[::1]:2121/", true, "[::1]:2121", TlsMode::Required},
        {"ftp://host:990", true, "host:990", TlsMode::Off},
        {"ftp://[::1]:21", true, "[::1]:21", TlsMode::Off},
        {"ftp://host/dir", false, "", TlsMode::Auto},
        {"ftpes://host/dir", false, "", TlsMode::Auto},
        {"sftp://host", false, "", TlsMode::Auto},
        {"ftpse://host", false, "", TlsMode::Auto},
        {"http://host", false, "", TlsMode::Auto},
        {"ftps://", true, "", TlsMode::Required}, // the host check refuses it
    };
    for (const Case& c : cases) {
        QString rest;
        TlsMode mode = TlsMode::Auto;
        EXPECT_EQ(SplitFtpScheme(c.address, &rest, &mode), c.ok) << c.address;
        if (c.ok) {
            EXPECT_EQ(rest, c.rest) << c.address;
            EXPECT_EQ(mode, c.mode) << c.address;
        }
    }
    CInternetSession session;
    for (const char* bad :
         {"ftps://", "ftpes://", "ftps://host/x", "gopher://host", "ftps://host:0", "ftpes://:990"})
        EXPECT_THROW(delete session.GetFtpConnection(bad), CInternetException) << bad;
}

} // namespace
