#include "RsaSha2.h"
#include "SftpTestUtil.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

// The RSA key files RsaSha2 reads by itself, each format ssh-keygen writes: the
// blob matches the ".pub" beside it, and a signature verifies with that public
// key as sshd checks it (SHA-256, PKCS #1 v1.5). Cut-off files give nothing.

namespace {

// Whether signature is an rsa-sha2-256 signature of data by the key of blob.
bool Verifies(const QByteArray& blob, const QByteArray& data, const QByteArray& signature) {
    auto next = [&, at = qsizetype(0)]() mutable {
        const auto* b = reinterpret_cast<const unsigned char*>(blob.constData() + at);
        const qsizetype n = (qsizetype(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
        at += 4 + n;
        return blob.mid(at - n, n);
    };
    next();
    const QByteArray e = next(), n = next();
    auto bn = [](const QByteArray& x) {
        return BN_bin2bn(reinterpret_cast<const unsigned char*>(x.constData()), int(x.size()),
                         nullptr);
    };
    BIGNUM *be = bn(e), *bnn = bn(n);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, bnn);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, be);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* from = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(from);
    EVP_PKEY_fromdata(from, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok =
        key && EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) > 0 &&
        EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(signature.constData()),
                         std::size_t(signature.size()),
                         reinterpret_cast<const unsigned char*>(data.constData()),
                         std::size_t(data.size())) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(from);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    BN_free(be);
    BN_free(bnn);
    return ok;
}

} // namespace

TEST(SftpRsaKeyTest, EachFormatSignsOrGivesNothing) {
    const struct {
        const char* what;
        const char* type;
        const char* passphrase;
        bool pem;
        bool signs; // without the ".pub", with the right passphrase
    } cases[] = {
        {"OpenSSH format", "rsa", "", false, true},
        {"OpenSSH format, encrypted", "rsa", "secret", false, false},
        {"PEM", "rsa", "", true, true},
        {"PEM, encrypted", "rsa", "secret", true, true},
        {"not RSA", "ed25519", "", false, false},
    };
    const QByteArray data = "the session's data to sign";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString key = dir.filePath(QStringLiteral("id"));
        ASSERT_TRUE(SshServer::MakeKey(key, QLatin1String(c.type), c.passphrase, c.pem));
        const auto blob = sftp::rsa::KeyFileBlob(key);
        ASSERT_EQ(blob.has_value(), QLatin1String(c.type) == QLatin1String("rsa"));
        const auto signature = sftp::rsa::KeyFileSigner(key, c.passphrase)(data);
        EXPECT_EQ(signature.has_value(), c.signs);
        EXPECT_EQ(sftp::rsa::CanSign(key), c.pem || !*c.passphrase);
        if (signature) {
            EXPECT_TRUE(Verifies(*blob, data, *signature));
            EXPECT_FALSE(Verifies(*blob, data + '.', *signature));
        }
        if (*c.passphrase && c.pem) {
            EXPECT_FALSE(sftp::rsa::KeyFileSigner(key, "wrong")(data).has_value());
        }
        // Without the ".pub", the blob comes from the key file where it can.
        QFile::remove(key + QStringLiteral(".pub"));
        const auto own = sftp::rsa::KeyFileBlob(key);
        EXPECT_EQ(own, *c.passphrase && c.pem ? std::nullopt : blob);
        // Every cut-off copy of the file, its end line kept, is refused, never
        // misread.
        const QByteArray whole = Get(key);
        const QByteArray end = whole.mid(whole.lastIndexOf("-----END"));
        for (qsizetype cut = 0; cut < whole.size() - end.size(); cut += 37) {
            Put(key, whole.left(cut) + '\n' + end);
            EXPECT_FALSE(sftp::rsa::KeyFileSigner(key, c.passphrase)(data).has_value()) << cut;
            sftp::rsa::KeyFileBlob(key);
        }
    }
}

TEST(SftpRsaKeyTest, RenamedBlobOnlyForOpenSshThatReadsIt) {
    const std::pair<const char*, bool> banners[] = {
        {"SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3", true},
        {"SSH-2.0-OpenSSH_10.0", true},
        {"SSH-2.0-OpenSSH_7.2", true},
        {"SSH-2.0-OpenSSH_7.1p2", false},
        {"SSH-2.0-OpenSSH_6.6.1p1 Ubuntu", false},
        {"SSH-2.0-AsyncSSH_2.10.1", false},
        {"SSH-2.0-dropbear_2022.83", false},
        {"SSH-2.0-OpenSSH_", false},
        {"", false},
    };
    for (const auto& [banner, expected] : banners)
        EXPECT_EQ(sftp::rsa::ServerReadsRenamedBlob(banner), expected) << banner;
}
