#pragma once
// The TCP sockets of this machine's loopback tests, from /proc: which
// process listens on a port, and what is still connected to it.
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace test {

struct TcpSocketEntry {
    unsigned long localPort = 0;
    std::string state;  // "0A" listens
    std::string inode;  // "0" once no process holds the socket
};

// The IPv4 TCP sockets in /proc/net/tcp.
inline std::vector<TcpSocketEntry> tcpSockets() {
    std::ifstream file("/proc/net/tcp");
    std::vector<TcpSocketEntry> sockets;
    std::string line;
    std::getline(file, line);  // the heading
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        const auto colon = local.find(':');
        if (colon == std::string::npos) continue;
        sockets.push_back(TcpSocketEntry{std::stoul(local.substr(colon + 1), nullptr, 16), state, inode});
    }
    return sockets;
}

// Connections that a program still holds open on the local TCP port `port`,
// besides its listening socket: IPv4 sockets on that port that a process
// owns (an inode) and that do not listen. A socket its program has closed
// keeps no inode, whatever state it lingers in.
inline int openConnectionsOnPort(uint16_t port) {
    int n = 0;
    for (const TcpSocketEntry& socket : tcpSockets())
        if (socket.localPort == port && socket.state != "0A" && socket.inode != "0") ++n;
    return n;
}

// Whether process `pid` itself listens on `port`. A server that lost its port
// to a parallel test's server started on the same pick must not be taken for
// ready because that other server answers there.
inline bool listensOn(pid_t pid, uint16_t port) {
    std::vector<std::string> listening;
    for (const TcpSocketEntry& socket : tcpSockets())
        if (socket.localPort == port && socket.state == "0A") listening.push_back("socket:[" + socket.inode + "]");
    if (listening.empty()) return false;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(fds.c_str());
    if (!dir) return false;
    bool found = false;
    char target[64];
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const ssize_t n = ::readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        for (const std::string& inode : listening) found = found || inode == target;
    }
    ::closedir(dir);
    return found;
}

}  // namespace test
}  // namespace tarnix
