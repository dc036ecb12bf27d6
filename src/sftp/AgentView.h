#pragma once

#include <QString>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

// The user's ssh-agent as libssh sees it in a login: only its first few keys.
// libssh offers every key an agent lists, and sshd ends a login after six failed
// attempts, so with a password to fall back on only the first keys may go. The
// view is an agent of its own on a socket pair: it lists those keys and passes
// every other request (a signature) to the real agent.
namespace sftp {

class AgentView {
public:
    // The agent at socketPath, its first limit keys; none when it cannot be
    // reached or says no.
    AgentView(const QString& socketPath, int limit);
    ~AgentView();
    AgentView(const AgentView&) = delete;
    AgentView& operator=(const AgentView&) = delete;

    int Count() const { return int(m_keys.size()); }
    // The socket for libssh, which closes it (ssh_set_agent_socket).
    int TakeSocket();
    // How many of the keys were offered before the last one asked to sign: the
    // count once a key has logged in.
    int OfferedUpToSigned() const { return m_signed + 1; }

private:
    void Serve();
    bool Relay(const std::string& request);

    std::vector<std::string> m_keys; // each key's blob and comment, as listed
    int m_agent = -1;                // the real agent
    int m_theirs = -1;               // libssh's end of the pair
    int m_ours = -1;
    std::thread m_thread;
    std::atomic<int> m_signed{-1};
};

} // namespace sftp
