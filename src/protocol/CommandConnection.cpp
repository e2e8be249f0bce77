// Placeholder until the command connection lands: every step fails.
#include "protocol/CommandConnection.h"

#include "net/Ipv4.h"

#include <cstring>

namespace tvx {

CommandConnection::CommandConnection(HostNetwork& net, WorkerLink& link, WorkerFamily family,
                                     const char* ipText, const char* macText)
    : net_(net), link_(link), family_(family)
{
    deviceAddress_ = parseIpv4(ipText, false);
    macTextToBytes(macText, deviceMac_);
}

CommandConnection::~CommandConnection()
{
    closeConnection();
}

int CommandConnection::reachDevice()
{
    return family_ == WorkerFamily::Settings ? -1 : -3;
}

int CommandConnection::loginDevice(const char*)
{
    return family_ == WorkerFamily::Settings ? -3 : -6;
}

int CommandConnection::sendCommand(const char*, size_t, char*)
{
    return -3;
}

void CommandConnection::closeConnection()
{
    socket_.reset();
}

void CommandConnection::clearReply()
{
    std::memset(replyText_, 0, sizeof replyText_);
}

int CommandConnection::connectDevice()
{
    return -1;
}

} // namespace tvx
