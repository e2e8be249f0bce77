#include "FakeModule.h"

namespace tvx::test {

FakeModule::FakeModule(uint16_t port)
{
    values_ = {{"GBN", "Module-1"},    {"GBC", "1"},
               {"GBD", "4001"},        {"GBV", "V1.05"},
               {"GBI", "1"},           {"GSMA", "TS"},
               {"GSVPA", "4000"},      {"GSCPA", "5000"},
               {"GSCIA", "192.0.2.9"}, {"GSCCA", "1"},
               {"GSBA", "115200"},     {"GSDA", "N81"},
               {"GSFA", "NONE"},       {"GSIA", "RS-232"},
               {"GSPCA", "101"},       {"GSPLA", "512"},
               {"GSPTA", "20"},        {"GSPSA", "0D0A"},
               {"GLI", "192.0.2.10"},  {"GLN", "255.255.255.0"},
               {"GLG", "192.0.2.1"},   {"GLC", "0"},
               {"GLA", "1"},           {"GLM", "00:1A:2B:3C:4D:5E"},
               {"GLS", "100M Full"}};
    peer_ = std::make_unique<LoopbackPeer>(
        [this](const std::string& line, int) { return answer(line); }, port);
}

void FakeModule::setValue(const std::string& command, const std::string& value)
{
    std::lock_guard guard(lock_);
    values_[command] = value;
}

void FakeModule::override(const std::string& command, LoopbackPeer::Answer answer)
{
    std::lock_guard guard(lock_);
    overrides_[command] = std::move(answer);
}

std::vector<std::string> FakeModule::lastLines() const
{
    const auto all = peer_->lineTranscripts();
    return all.empty() ? std::vector<std::string>{} : all.back();
}

LoopbackPeer::Answer FakeModule::answer(const std::string& line)
{
    std::lock_guard guard(lock_);
    // Longest override that the line begins with.
    const LoopbackPeer::Answer* chosen = nullptr;
    size_t chosenLength = 0;
    for (const auto& [command, a] : overrides_) {
        if (line.compare(0, command.size(), command) == 0 && command.size() > chosenLength) {
            chosen = &a;
            chosenLength = command.size();
        }
    }
    if (chosen)
        return *chosen;
    const std::string body = line.substr(1, line.size() - 3);
    if (body.rfind("LOG", 0) == 0)
        return {{LoopbackPeer::line("LOGOK")}};
    if (body.rfind("SEI", 0) == 0)
        return {{LoopbackPeer::line("SEIOK")}};
    static const char* const writes[] = {
        "SBN",   "SBC", "SBD", "SBP", "SSBA", "SSDA", "SSFA", "SSIA",  "SSPCA", "SSPSA", "SSPTA",
        "SSPLA", "SLC", "SLI", "SLN", "SLG",  "SLA",  "SSMA", "SSVPA", "SSCPA", "SSCCA", "SSCIA"};
    std::string name;
    for (const char* w : writes) {
        if (body.rfind(w, 0) == 0 && std::string(w).size() > name.size())
            name = w;
    }
    if (!name.empty())
        return {{LoopbackPeer::line(name + "OK")}};
    const auto it = values_.find(body);
    if (it == values_.end())
        return {{LoopbackPeer::line("ERR")}};
    return {{LoopbackPeer::line(body + it->second)}};
}

} // namespace tvx::test
