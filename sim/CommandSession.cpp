#include "CommandSession.h"

#include "CommandTable.h"

#include <cstdio>

namespace tvx::sim {

namespace {

constexpr const char* kRefused = "ERR";

bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

CommandSession::CommandSession(std::map<std::string, std::string>& settings, const Faults& faults,
                               const std::string& modelName, unsigned modelCode)
    : settings_(settings), faults_(faults), modelName_(modelName), modelCode_(modelCode)
{}

CommandOutcome CommandSession::answer(const std::string& command, const std::string& text,
                                      CommandAction action) const
{
    CommandOutcome out;
    out.command = command;
    out.action = action;
    std::string body = text;

    if (faults_.has("close", command)) {
        out.action = CommandAction::Close;
        return out;
    }
    if (faults_.has("noecho", command) && startsWith(body, command)) {
        // A reply that carries its value (or "OK") but not the command's name in front.
        body.erase(0, command.size());
        if (body.empty())
            body = "OK";
    }
    if (faults_.has("empty", command))
        body.clear();
    if (faults_.has("long", command)) {
        // Long enough that the whole line no longer fits one 128-byte receive.
        while (body.size() < 140)
            body += '0';
    }
    out.reply = faults_.has("noframe", command) ? body + "\r\n" : "%" + body + "\r\n";
    return out;
}

CommandOutcome CommandSession::handle(const std::string& line)
{
    if (line.empty() || line[0] != '$')
        return answer("", kRefused);
    const std::string request = line.substr(1);

    if (startsWith(request, "LOG")) {
        const std::string given = request.substr(3);
        const std::string& password = settings_["password"];
        // A module without a password lets anyone in, whatever follows "$LOG".
        const bool ok = !faults_.has("refuselogin") && (password.empty() || given == password);
        loggedIn_ = ok;
        return answer("LOG", ok ? "LOGOK" : "LOGERR");
    }
    if (!loggedIn_)
        return answer("", "NOLOG");

    // A write's value follows its name directly and may start with letters, so the longest
    // write name that prefixes the request wins.
    const CommandEntry* hit = nullptr;
    bool isWrite = false;
    for (const CommandEntry& e : commandTable()) {
        if (*e.read && request == e.read) {
            hit = &e;
            isWrite = false;
            break;
        }
        if (*e.write && startsWith(request, e.write)
            && (!hit || std::string(e.write).size() > std::string(hit->write).size())) {
            hit = &e;
            isWrite = true;
        }
    }

    if (request == "GBI") {
        char info[64];
        std::snprintf(info, sizeof info, "GBI%04X %s", modelCode_ & 0xFFFFu, modelName_.c_str());
        return answer("GBI", info);
    }
    if (request == "SEI")
        return answer("SEI", "SEIOK", CommandAction::ApplyAndRestart);
    if (request == "SER")
        return answer("SER", "SEROK", CommandAction::Restart);
    if (request == "SEF")
        return answer("SEF", "SEFOK", CommandAction::ArmTransfer);

    if (!hit)
        return answer("", kRefused);

    if (!isWrite) {
        const std::string& value = settings_[hit->field];
        if (std::string(hit->field) == "webEn")
            return answer(hit->read, std::string(hit->read) + (value == "0" ? "0" : "1"));
        return answer(hit->read, hit->read + value);
    }

    const std::string value = request.substr(std::string(hit->write).size());
    if (!valueAccepted(hit->kind, hit->maxLength, value))
        return answer(hit->write, std::string(hit->write) + "ERR");
    pending_[hit->field] = value;
    return answer(hit->write, std::string(hit->write) + "OK");
}

int CommandSession::apply()
{
    int changed = 0;
    for (const auto& [field, value] : pending_) {
        if (settings_[field] != value) {
            settings_[field] = value;
            ++changed;
        }
    }
    pending_.clear();
    return changed;
}

} // namespace tvx::sim
