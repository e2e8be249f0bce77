#pragma once

#include "net/NetTables.h"

#include <string>

namespace tvx {

// The host's real tables. Addresses are listed in-process (no privilege
// needed); every change runs the small privileged helper `tarvanix-netpin`,
// without a shell, because this program must not hold CAP_NET_ADMIN itself.
class SystemNetTables : public NetTables {
public:
    explicit SystemNetTables(std::string helperPath);

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
    enum HelperExit { Ok = 0, BadArguments = 1, NoPrivilege = 2, KernelRefused = 3,
                      TableUnreadable = 4 };

private:
    int runHelper(const std::vector<std::string>& args);

    std::string helperPath_;
};

} // namespace tvx
