#include "AgentView.h"

#include "Wire.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sftp {

namespace {

// The agent protocol's messages (draft-miller-ssh-agent).
constexpr std::uint8_t kFailure = 5;
constexpr std::uint8_t kRequestIdentities = 11;
constexpr std::uint8_t kIdentitiesAnswer = 12;
constexpr std::uint8_t kSignRequest = 13;
constexpr std::uint32_t kMaxMessage = 256 << 10;

bool ReadFull(int fd, char* to, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::read(fd, to, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        count -= std::size_t(n);
    }
    return true;
}

bool WriteFull(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += std::size_t(n);
    }
    return true;
}

// One message, its length cut off; empty at the end or on a fault.
std::string ReadMessage(int fd) {
    char head[4];
    if (!ReadFull(fd, head, 4))
        return {};
    wire::Reader in(std::string_view(head, 4));
    const std::uint32_t length = in.U32();
    std::string body(length, '\0');
    if (length == 0 || length > kMaxMessage || !ReadFull(fd, body.data(), length))
        return {};
    return body;
}

std::string Framed(const std::string& body) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[std::size_t(i)] = char(body.size() >> (24 - 8 * i));
    return out + body;
}

std::string Field(std::string_view bytes) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[std::size_t(i)] = char(bytes.size() >> (24 - 8 * i));
    return out.append(bytes);
}

int ConnectTo(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || std::size_t(name.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

AgentView::AgentView(const QString& socketPath, int limit) {
    m_agent = ConnectTo(socketPath);
    if (m_agent < 0 || !WriteFull(m_agent, Framed(std::string(1, char(kRequestIdentities)))))
        return;
    const std::string answer = ReadMessage(m_agent);
    try {
        wire::Reader in(answer);
        if (answer.empty() || in.U8() != kIdentitiesAnswer)
            return;
        for (std::uint32_t n = in.U32(); n > 0; --n) {
            std::string key = Field(in.Str());
            key += Field(in.Str());
            if (int(m_keys.size()) < limit)
                m_keys.push_back(std::move(key));
        }
    } catch (const Error&) {
        m_keys.clear();
        return;
    }
    int pair[2];
    if (m_keys.empty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        m_keys.clear();
        return;
    }
    m_theirs = pair[0];
    m_ours = pair[1];
    m_thread = std::thread([this] { Serve(); });
}

AgentView::~AgentView() {
    // Ends the thread's wait on either socket.
    if (m_ours >= 0)
        ::shutdown(m_ours, SHUT_RDWR);
    if (m_agent >= 0)
        ::shutdown(m_agent, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    for (const int fd : {m_ours, m_theirs, m_agent})
        if (fd >= 0)
            ::close(fd);
}

int AgentView::TakeSocket() {
    const int fd = m_theirs;
    m_theirs = -1;
    return fd;
}

void AgentView::Serve() {
    for (;;) {
        const std::string request = ReadMessage(m_ours);
        if (request.empty())
            return;
        if (std::uint8_t(request[0]) == kRequestIdentities) {
            std::string answer(1, char(kIdentitiesAnswer));
            answer.append(4, '\0'); // the count
            const auto count = std::uint32_t(m_keys.size());
            for (int i = 0; i < 4; ++i)
                answer[std::size_t(1 + i)] = char(count >> (24 - 8 * i));
            for (const std::string& key : m_keys)
                answer += key;
            if (!WriteFull(m_ours, Framed(answer)))
                return;
        } else if (!Relay(request)) {
            return;
        }
    }
}

// A request for the real agent, a signature above all: its answer goes back.
bool AgentView::Relay(const std::string& request) {
    if (std::uint8_t(request[0]) == kSignRequest) {
        try {
            wire::Reader in(std::string_view(request).substr(1));
            const std::string blob = Field(in.Str());
            for (std::size_t i = 0; i < m_keys.size(); ++i)
                if (m_keys[i].compare(0, blob.size(), blob) == 0)
                    m_signed = int(i);
        } catch (const Error&) {
        }
    }
    std::string answer;
    if (WriteFull(m_agent, Framed(request)))
        answer = ReadMessage(m_agent);
    if (answer.empty())
        answer = std::string(1, char(kFailure));
    return WriteFull(m_ours, Framed(answer));
}

} // namespace sftp
