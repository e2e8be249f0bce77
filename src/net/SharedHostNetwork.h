#pragma once

#include "net/HostNetwork.h"
#include "net/NetTables.h"

#include <memory>

namespace tvx {

// A host network that owns a share of its tables. Workers hold it by shared
// pointer, so neither it nor the tables it changes can go away under a worker
// that is still ending, even after the program has stopped waiting for it.
inline std::shared_ptr<HostNetwork> makeSharedHostNetwork(std::shared_ptr<NetTables> tables,
                                                          HostNetwork::LogFn log)
{
    struct Owner {
        Owner(std::shared_ptr<NetTables> t, HostNetwork::LogFn log)
            : tables(std::move(t)), network(*tables, std::move(log))
        {}
        std::shared_ptr<NetTables> tables;
        HostNetwork network;
    };
    auto owner = std::make_shared<Owner>(std::move(tables), std::move(log));
    return std::shared_ptr<HostNetwork>(owner, &owner->network);
}

} // namespace tvx
