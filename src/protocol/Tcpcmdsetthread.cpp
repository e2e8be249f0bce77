// Placeholder until the write worker lands.
#include "protocol/Tcpcmdsetthread.h"

#include <cstring>

namespace tvx {

TCPcmdsetThread::TCPcmdsetThread(WorkerLink link, HostNetwork& net, const SettingsRecord& record,
                                 const char* macText, const char* ipText)
    : WorkerThread(QStringLiteral("TCPcmdsetThread"), std::move(link)), net_(net), record_(record)
{
    std::strncpy(macText_, macText, 17);
    std::strncpy(ipText_, ipText, 19);
}

void TCPcmdsetThread::execute()
{
    link().storeResult(-1);
    link().finish();
}

} // namespace tvx
