#pragma once

#include "LoopbackPeer.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tvx::test {

// A module that answers the settings commands from a table of values: a read
// command gets its echo and value, a write command its "OK", the login
// "LOGOK". Single replies can be overridden to provoke the failure paths.
class FakeModule {
public:
    explicit FakeModule(uint16_t port = 0);

    // Reply text for a read command ("GBN" -> "GBN" + value).
    void setValue(const std::string& command, const std::string& value);
    // The whole answer for the line that begins with `command` ("$GSVPA").
    void override(const std::string& command, LoopbackPeer::Answer answer);

    uint16_t port() const { return peer_->port(); }
    LoopbackPeer& peer() { return *peer_; }
    // Lines of the last connection.
    std::vector<std::string> lastLines() const;

private:
    LoopbackPeer::Answer answer(const std::string& line);

    mutable std::mutex lock_;
    std::map<std::string, std::string> values_;
    std::map<std::string, LoopbackPeer::Answer> overrides_;
    std::unique_ptr<LoopbackPeer> peer_;
};

} // namespace tvx::test
