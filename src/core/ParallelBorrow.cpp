// A batch's worker keeps one connection for the source of every copy between
// two places on the server: a login per file would cost more round trips than
// the file itself.
#include "Parallel.h"
#include "RemoteSite.h"

namespace {
class BorrowedConnection : public core::RemoteConnection {
public:
    explicit BorrowedConnection(core::RemoteConnection& lent) : m_lent(lent) {}

    core::RemoteCaps Caps() const override { return m_lent.Caps(); }
    QString Encryption() const override { return m_lent.Encryption(); }
    std::vector<core::RemoteEntry> List(const QString& folder) override {
        return m_lent.List(folder);
    }
    std::optional<core::RemoteEntry> Stat(const QString& path) override {
        return m_lent.Stat(path);
    }
    std::optional<std::uint64_t> Size(const QString& path) override { return m_lent.Size(path); }
    bool LeadsToFolder(const QString& path) override { return m_lent.LeadsToFolder(path); }
    void MakeFolder(const QString& path) override { m_lent.MakeFolder(path); }
    void Rename(const QString& from, const QString& to) override { m_lent.Rename(from, to); }
    void Replace(const QString& from, const QString& to) override { m_lent.Replace(from, to); }
    void DeleteFile(const QString& path) override { m_lent.DeleteFile(path); }
    void DeleteLink(const QString& path) override { m_lent.DeleteLink(path); }
    void DeleteFolder(const QString& path) override { m_lent.DeleteFolder(path); }
    std::unique_ptr<core::RemoteReader> OpenRead(const QString& path,
                                                 std::uint64_t offset) override {
        return m_lent.OpenRead(path, offset);
    }
    std::unique_ptr<core::RemoteWriter> OpenWrite(const QString& path, core::WriteStart start,
                                                  std::uint64_t offset) override {
        return m_lent.OpenWrite(path, start, offset);
    }
    QString HomeFolder() override { return m_lent.HomeFolder(); }
    bool OutcomeUnknown() const override { return m_lent.OutcomeUnknown(); }
    bool Usable() const override { return m_lent.Usable(); }

private:
    core::RemoteConnection& m_lent;
};
} // namespace

std::unique_ptr<core::RemoteConnection> core::BorrowConnection(RemoteConnection& connection) {
    return std::make_unique<BorrowedConnection>(connection);
}
