#pragma once

// What the bench programs need of a simulated module besides the code under
// measurement: its control socket (state, last transfer) and the command
// lines that arm it for a firmware transfer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace tvx::bench {

// One control command; its answer lines (without the final "ok"), or an empty
// string with `ok` false.
inline std::string controlQuery(const std::string& path, const std::string& command, bool* ok)
{
    *ok = false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    const std::string line = command + "\n";
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
        if (answer.size() >= 3 && answer.compare(answer.size() - 3, 3, "ok\n") == 0
            && (answer.size() == 3 || answer[answer.size() - 4] == '\n')) {
            answer.resize(answer.size() - 3);
            *ok = true;
            break;
        }
        if (answer.find("error") != std::string::npos && answer.back() == '\n')
            break;
    }
    ::close(fd);
    return answer;
}

// The value of "key=" in a control answer.
inline std::string field(const std::string& answer, const std::string& key)
{
    const std::string k = "\n" + key + "=";
    const std::string text = "\n" + answer;
    const size_t at = text.find(k);
    if (at == std::string::npos)
        return {};
    const size_t from = at + k.size();
    return text.substr(from, text.find('\n', from) - from);
}

inline bool waitUntilUp(const std::string& control, const std::string& module, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        bool ok = false;
        const std::string state = controlQuery(control, "show " + module, &ok);
        if (ok && field(state, "state") == "up")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Logs in without a password and sends "$SEF" as the upgrade does. Returns
// the open connection (the upgrade keeps it through the transfer), or -1.
inline int armTransfer(uint32_t address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address;
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    auto exchange = [fd](const char* bytes, size_t length) {
        ::send(fd, bytes, length, MSG_NOSIGNAL);
        std::string reply;
        char buffer[256];
        while (reply.find("\r\n") == std::string::npos) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return std::string();
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return std::string();
            reply.append(buffer, static_cast<size_t>(n));
        }
        return reply;
    };
    if (exchange("$LOG\r\n", 6).rfind("%LOGOK", 0) != 0) {
        ::close(fd);
        return -1;
    }
    exchange("$SEF\r\n", 7); // with its zero byte, as the upgrade sends it
    return fd;
}

} // namespace tvx::bench
