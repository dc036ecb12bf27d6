#include "Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <set>

namespace {
std::multiset<CRegKey::Op>& InjectedFailures() {
    static std::multiset<CRegKey::Op> failures;
    return failures;
}

QString GroupOf(const QString& keyPath) {
    QString group = keyPath;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return group;
}
} // namespace

CRegKey::CRegKey() = default;
CRegKey::~CRegKey() = default;

QString CRegKey::StoreFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velmar98/registry.ini");
}

void CRegKey::FailNext(Op op) { InjectedFailures().insert(op); }
void CRegKey::ClearFailures() { InjectedFailures().clear(); }

bool CRegKey::TakeFailure(Op op) {
    auto& failures = InjectedFailures();
    auto it = failures.find(op);
    if (it == failures.end())
        return false;
    failures.erase(it);
    return true;
}

QString CRegKey::ValueKey(const QString& name) const { return m_group + QLatin1Char('/') + name; }

bool CRegKey::Open(const QString& keyPath) {
    m_settings.reset();
    if (TakeFailure(Op::Open))
        return false;
    const QString path = StoreFilePath();
    QFileInfo info(path);
    if (!info.exists() || !info.isFile() || !info.isReadable())
        return false;
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError)
        return false;
    const QString group = GroupOf(keyPath);
    settings->beginGroup(group);
    const bool present = !settings->childKeys().isEmpty();
    settings->endGroup();
    if (!present)
        return false;
    m_group = group;
    m_settings = std::move(settings);
    return true;
}

bool CRegKey::Create(const QString& keyPath) {
    m_settings.reset();
    if (TakeFailure(Op::Create))
        return false;
    const QString path = StoreFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return false;
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError)
        return false;
    m_group = GroupOf(keyPath);
    m_settings = std::move(settings);
    return true;
}

bool CRegKey::QueryString(const QString& name, QString* value, int maxChars) {
    if (!m_settings || TakeFailure(Op::Query))
        return false;
    const QString key = ValueKey(name);
    if (!m_settings->contains(key))
        return false;
    QString text = m_settings->value(key).toString();
    if (maxChars > 0 && text.size() > maxChars - 1)
        text.truncate(maxChars - 1);
    *value = text;
    return true;
}

bool CRegKey::QueryDword(const QString& name, qint32* value) {
    if (!m_settings || TakeFailure(Op::Query))
        return false;
    const QString key = ValueKey(name);
    if (!m_settings->contains(key))
        return false;
    bool ok = false;
    const qint64 number = m_settings->value(key).toString().trimmed().toLongLong(&ok);
    if (!ok)
        return false;
    *value = static_cast<qint32>(number);
    return true;
}

bool CRegKey::SetString(const QString& name, const QString& value) {
    if (!m_settings || TakeFailure(Op::Set))
        return false;
    m_settings->setValue(ValueKey(name), value);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

bool CRegKey::SetDword(const QString& name, qint32 value) {
    if (!m_settings || TakeFailure(Op::Set))
        return false;
    m_settings->setValue(ValueKey(name), value);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

bool CRegKey::Close() {
    if (!m_settings)
        return false;
    m_settings->sync();
    const bool ok = m_settings->status() == QSettings::NoError;
    m_settings.reset();
    if (TakeFailure(Op::Close))
        return false;
    return ok;
}

namespace settings {
namespace {
const QString kKeyringPasswords = QStringLiteral("KeyringPasswords");
const QString kTransfers = QStringLiteral("Transfers");
}

std::optional<bool> KeyringPasswords() {
    CRegKey key;
    qint32 value = 0;
    if (!key.Open(QString::fromLatin1(kProgramKeyPath)) ||
        !key.QueryDword(kKeyringPasswords, &value))
        return std::nullopt;
    key.Close();
    return value != 0;
}

bool SetKeyringPasswords(bool on) {
    CRegKey key;
    const bool set = key.Create(QString::fromLatin1(kProgramKeyPath)) &&
                     key.SetDword(kKeyringPasswords, on ? 1 : 0);
    const bool closed = key.IsOpen() && key.Close();
    return set && closed;
}

int Transfers() {
    CRegKey key;
    QString text;
    // Read as text: a number past 32 bits must not wrap into the range.
    if (!key.Open(QString::fromLatin1(kProgramKeyPath)) || !key.QueryString(kTransfers, &text))
        return kDefaultTransfers;
    key.Close();
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok && value >= kMinTransfers && value <= kMaxTransfers ? static_cast<int>(value)
                                                                   : kDefaultTransfers;
}

bool SetTransfers(int transfers) {
    CRegKey key;
    const bool set =
        key.Create(QString::fromLatin1(kProgramKeyPath)) && key.SetDword(kTransfers, transfers);
    const bool closed = key.IsOpen() && key.Close();
    return set && closed;
}
} // namespace settings
