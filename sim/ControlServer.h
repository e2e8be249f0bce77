#pragma once

#include "EventLoop.h"
#include "Fd.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tvx::sim {

class Module;

// The run-time handle of a simulator process for tests: a Unix stream socket that takes one
// command a line and answers with zero or more lines followed by "ok" or "error <why>".
//
//   ping | modules | show M | fault M SWITCH | clear M [NAME] | set M FIELD=VALUE
//   | restart M | drop M [MS] | transcript-clear M | quit
class ControlServer {
public:
    ControlServer(EventLoop& loop, std::vector<std::unique_ptr<Module>>& modules);
    ~ControlServer();

    bool listen(const std::string& path, std::string* error);
    // Answers one command line; public so it can be driven without a socket.
    std::string execute(const std::string& line);

private:
    void onAccept();
    void onData(int fd);
    Module* find(const std::string& name);

    EventLoop& loop_;
    std::vector<std::unique_ptr<Module>>& modules_;
    std::string path_;
    Fd listener_;
    std::map<int, std::pair<Fd, std::string>> clients_;
};

} // namespace tvx::sim
