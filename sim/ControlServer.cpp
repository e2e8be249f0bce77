#include "ControlServer.h"

#include "Module.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace tvx::sim {

ControlServer::ControlServer(EventLoop& loop, std::vector<std::unique_ptr<Module>>& modules)
    : loop_(loop), modules_(modules)
{}

ControlServer::~ControlServer()
{
    for (auto& [fd, c] : clients_)
        loop_.unwatch(fd);
    if (listener_.valid()) {
        loop_.unwatch(listener_.get());
        ::unlink(path_.c_str());
    }
}

bool ControlServer::listen(const std::string& path, std::string* error)
{
    sockaddr_un a{};
    if (path.size() >= sizeof a.sun_path) {
        *error = "control path too long";
        return false;
    }
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    ::unlink(path.c_str());
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(fd.get(), 8) != 0) {
        *error = std::string("control socket ") + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    listener_ = std::move(fd);
    loop_.watch(listener_.get(), [this] { onAccept(); });
    return true;
}

void ControlServer::onAccept()
{
    Fd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid())
        return;
    const int raw = fd.get();
    clients_.emplace(raw, std::make_pair(std::move(fd), std::string()));
    loop_.watch(raw, [this, raw] { onData(raw); });
}

void ControlServer::onData(int fd)
{
    auto it = clients_.find(fd);
    if (it == clients_.end())
        return;
    char buf[1024];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EAGAIN)
        return;
    if (n <= 0) {
        loop_.unwatch(fd);
        clients_.erase(it);
        return;
    }
    std::string& input = it->second.second;
    input.append(buf, static_cast<std::size_t>(n));
    for (auto lf = input.find('\n'); lf != std::string::npos; lf = input.find('\n')) {
        std::string line = input.substr(0, lf);
        input.erase(0, lf + 1);
        const std::string answer = execute(line);
        // Answers are small; a blocking write keeps the protocol simple.
        const int flags = 0;
        std::size_t off = 0;
        while (off < answer.size()) {
            const ssize_t w =
                ::send(fd, answer.data() + off, answer.size() - off, MSG_NOSIGNAL | flags);
            if (w < 0 && errno == EAGAIN)
                continue;
            if (w <= 0)
                break;
            off += static_cast<std::size_t>(w);
        }
        if (line == "quit")
            loop_.stop();
    }
}

Module* ControlServer::find(const std::string& name)
{
    for (auto& m : modules_) {
        if (m->name() == name)
            return m.get();
    }
    return nullptr;
}

std::string ControlServer::execute(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, name;
    in >> verb >> name;
    if (verb == "ping" || verb == "quit")
        return "ok\n";
    if (verb == "modules") {
        std::string out;
        for (auto& m : modules_)
            out += m->name() + "\n";
        return out + "ok\n";
    }
    Module* m = find(name);
    if (!m)
        return "error no module '" + name + "'\n";
    std::string arg;
    std::getline(in >> std::ws, arg);
    if (verb == "show")
        return m->describe() + "ok\n";
    if (verb == "fault") {
        std::string error;
        if (!m->faults().add(arg, &error))
            return "error " + error + "\n";
        m->faultsChanged();
        return "ok\n";
    }
    if (verb == "clear") {
        m->faults().clear(arg);
        m->faultsChanged();
        return "ok\n";
    }
    if (verb == "set") {
        const auto eq = arg.find('=');
        if (eq == std::string::npos || !m->config().settings.count(arg.substr(0, eq)))
            return "error set needs FIELD=VALUE with a known field\n";
        m->config().settings[arg.substr(0, eq)] = arg.substr(eq + 1);
        m->settingsChanged();
        return "ok\n";
    }
    if (verb == "drop") {
        m->dropDataConnections(arg.empty() ? 0 : std::atoi(arg.c_str()));
        return "ok\n";
    }
    if (verb == "restart") {
        m->restart("control request");
        return "ok\n";
    }
    if (verb == "transcript-clear") {
        m->transcript().clear();
        return "ok\n";
    }
    return "error unknown command '" + verb + "'\n";
}

} // namespace tvx::sim
