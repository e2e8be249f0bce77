#pragma once

#include "net/NetTables.h"

#include <mutex>
#include <string>

namespace tvx {

// The host's real tables. Addresses are listed in-process (no privilege
// needed); every change goes to the small privileged helper `tarvanix-netpin`,
// because this program must not hold CAP_NET_ADMIN itself. One helper serves
// this object for its whole life over a socket: it removes what it made when
// the socket closes, also when this program is killed.
class SystemNetTables : public NetTables {
public:
    explicit SystemNetTables(std::string helperPath);
    // Closes the helper's socket and waits for it to remove its entries.
    ~SystemNetTables() override;
    SystemNetTables(const SystemNetTables&) = delete;
    SystemNetTables& operator=(const SystemNetTables&) = delete;

    // Starts the helper now rather than at the first change: at its start it
    // removes what the helpers of programs that were killed left behind.
    // False when it could not be started (lastChangeProblem says why).
    bool startHelper();

    // The helper beside the running executable, else the one installed under
    // the executable's prefix, else the one at the configured install path.
    static std::string defaultHelperPath(const std::string& executableDir);

    bool listAddresses(std::vector<InterfaceAddress>& out, int& error) override;
    bool pinNeighbour(uint32_t address, const uint8_t mac[6], uint32_t ifIndex) override;
    bool unpinNeighbours(const uint8_t mac[6], int& error) override;
    bool addHostRoute(uint32_t address, uint32_t localAddress, uint32_t ifIndex) override;
    bool deleteHostRoute(uint32_t address) override;
    // Of the calling thread's last change.
    std::string lastChangeProblem() const override;

    // Exit codes of the helper.
    enum HelperExit {
        Ok = 0,
        BadArguments = 1,
        NoPrivilege = 2,
        KernelRefused = 3,
        TableUnreadable = 4
    };

private:
    int runHelper(const std::vector<std::string>& args);
    int spawnHelper();
    void stopHelper(bool kill);
    int readAnswer();

    std::string helperPath_;
    std::mutex helperLock_; // one request at a time on the helper's socket
    int helperSocket_ = -1;
    int helperPid_ = -1;
    std::string received_;
};

} // namespace tvx
