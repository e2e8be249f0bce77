// tarvanix-modsim: simulated device-server modules for development and tests.

#include "ControlServer.h"
#include "EventLoop.h"
#include "Module.h"
#include "ModuleConfig.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile bool stopRequested = false;

void onSignal(int)
{
    stopRequested = true;
}

void usage()
{
    std::cout <<
        R"(Usage: tarvanix-modsim [OPTION]... [--module "NAME KEY=VALUE..."]...

Simulates device-server modules: discovery (UDP), the command protocol (TCP)
and the firmware transfer (UDP), all in one process, for trying out the
utility and for its tests. A module in TCP server mode (opmode=TS, the
default) also listens on its data port (tcpslport, default 4000) and echoes
every byte.

Options:
  --module DEF        one module: its name, then KEY=VALUE tokens (see below);
                      repeatable
  --modules FILE      module definitions, one a line, "#" starts a comment
  --bind ADDR         bind address for modules without if= (default: each
                      module's own ip)
  --disc-port N       discovery port (5000)
  --cmd-port N        command port (23)
  --tftp-port N       firmware transfer port (69)
  --control PATH      Unix socket for run-time control (fault switches, state; "drop M [MS]"
                      closes M's data connections and refuses new ones for MS ms)
  --transcripts DIR   write DIR/NAME.log for each module
  --ready-file PATH   created once every module listens
  --help              show this text
  --version           show the version

Module keys:
  ip=A.B.C.D[/P] mac=XX:XX:XX:XX:XX:XX if=LINK bind=ADDR metric=N
  password=TEXT devname=TEXT fw=TEXT model=TEXT code=HEX mode=Normal|0
  gw=ADDR mask=ADDR dhcp=0|1 restart=MS flash=MS fault=SWITCH (repeatable),
  or any settings field by name (baud=9600, opmode=TC, ...)

Fault switches:
  Each is written NAME[@COMMAND][=VALUE] and makes the module misbehave as a
  test needs; COMMAND is a command's name without its "$" (delay@GBN=3000).
  Command protocol: noreply delay split long noecho empty noframe close
  refuselogin noaccept. Discovery: disc-silent disc-dup disc-bcast disc-bad
  disc-longname disc-trailer disc-delay disc-flood. Firmware transfer:
  tftp-silent tftp-ack-for-oack tftp-drop-ack tftp-wrong-block tftp-ack5
  tftp-error tftp-foreign tftp-dup-ack.
)";
}

bool readModules(const std::string& path, std::vector<std::string>& defs)
{
    std::ifstream in(path);
    if (!in)
        return false;
    for (std::string line; std::getline(in, line);) {
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.resize(hash);
        if (line.find_first_not_of(" \t\r") != std::string::npos)
            defs.push_back(line);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tvx::sim;

    std::vector<std::string> defs;
    Ports ports;
    std::string bind, control, transcripts, readyFile;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "tarvanix-modsim: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--version") {
            std::cout << "tarvanix-modsim " TARVANIX_VERSION "\n";
            return 0;
        } else if (a == "--module") {
            defs.push_back(value());
        } else if (a == "--modules") {
            const std::string path = value();
            if (!readModules(path, defs)) {
                std::cerr << "tarvanix-modsim: cannot read " << path << "\n";
                return 2;
            }
        } else if (a == "--bind") {
            bind = value();
        } else if (a == "--disc-port") {
            ports.discovery = static_cast<std::uint16_t>(std::atoi(value().c_str()));
        } else if (a == "--cmd-port") {
            ports.command = static_cast<std::uint16_t>(std::atoi(value().c_str()));
        } else if (a == "--tftp-port") {
            ports.transfer = static_cast<std::uint16_t>(std::atoi(value().c_str()));
        } else if (a == "--control") {
            control = value();
        } else if (a == "--transcripts") {
            transcripts = value();
        } else if (a == "--ready-file") {
            readyFile = value();
        } else {
            std::cerr << "tarvanix-modsim: unknown option " << a << " (--help lists them)\n";
            return 2;
        }
    }
    if (defs.empty()) {
        std::cerr << "tarvanix-modsim: no module given (--module or --modules)\n";
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);

    EventLoop loop;
    std::vector<std::unique_ptr<Module>> modules;
    for (const std::string& def : defs) {
        ModuleConfig config;
        std::string error;
        if (!ModuleConfig::parse(def, config, &error)) {
            std::cerr << "tarvanix-modsim: module '" << def << "': " << error << "\n";
            return 2;
        }
        if (!bind.empty() && config.interfaceName.empty() && config.bindAddress.empty())
            config.bindAddress = bind;
        const std::string log = transcripts.empty() ? "" : transcripts + "/" + config.name + ".log";
        modules.push_back(std::make_unique<Module>(loop, std::move(config), ports, log));
        if (!modules.back()->start(&error)) {
            std::cerr << "tarvanix-modsim: module " << modules.back()->name() << ": " << error
                      << "\n";
            return 1;
        }
    }

    ControlServer server(loop, modules);
    if (!control.empty()) {
        std::string error;
        if (!server.listen(control, &error)) {
            std::cerr << "tarvanix-modsim: " << error << "\n";
            return 1;
        }
    }
    if (!readyFile.empty())
        std::ofstream(readyFile) << "ready " << modules.size() << "\n";

    loop.run(&stopRequested);
    return 0;
}
