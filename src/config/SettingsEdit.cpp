#include "config/SettingsEdit.h"

#include "config/CfgCollect.h"
#include "config/CfgItems.h"
#include "handover/RecordText.h"
#include "platform/RegularFile.h"
#include "protocol/CommandTable.h"
#include "text/DottedQuad.h"
#include "text/PrintableText.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <array>
#include <cstddef>
#include <cstring>

namespace tvx {

// What kind of control shows a field, and so which values it can take.
enum class Control {
    ReadOnly, // shown, never written
    Edit, // typed text; `maxChars` the edit's limit (0: none)
    Switch, // a check box: "0" or "1"
    Choice, // a combo box: one of `table`'s items, or the module's code for it
    DataFormat, // three combo boxes in one field: parity letter, data bits, stop bits
    PackSwitches,
    Delimiter, // two hexadecimal edits of two characters each
    Address, // an IPv4 address control
};

// The order in which values go into the controls: a switch or mode first,
// then what depends on it.
enum class Stage { Controlling, Dependent };

struct SettingsField {
    const char* name;
    size_t offset;
    size_t room;
    Control control;
    int maxChars = 0;
    const ComboTable* table = nullptr;
    // The module's codes for the table's items, where they differ from the texts.
    const char* const* codes = nullptr;
};

namespace {

using namespace cfgitems;

constexpr const char* kIpModeCodes[] = {"0", "1"};
constexpr const char* kConnectAtCodes[] = {"0", "1"};

#define TVX_FIELD(name) #name, offsetof(SettingsRecord, name), sizeof(SettingsRecord::name)

const std::array<SettingsField, 24> kFields{{
    {TVX_FIELD(devName), Control::Edit, 14},
    {TVX_FIELD(fmwVer), Control::ReadOnly},
    {TVX_FIELD(sp0_baud), Control::Choice, 0, &kBaud},
    {TVX_FIELD(sp0_dataFmt), Control::DataFormat},
    {TVX_FIELD(sp0_fc), Control::Choice, 0, &kFlow},
    {TVX_FIELD(sp0_if), Control::Choice, 0, &kInterface},
    {TVX_FIELD(sp0_dpCtrl), Control::PackSwitches},
    {TVX_FIELD(sp0_dpLen), Control::Edit, 4},
    {TVX_FIELD(sp0_dpTm), Control::Edit, 5},
    {TVX_FIELD(sp0_dpStr), Control::Delimiter, 4},
    {TVX_FIELD(lanIp), Control::Address},
    {TVX_FIELD(lanMask), Control::Address},
    {TVX_FIELD(lanGw), Control::Address},
    {TVX_FIELD(lanIpCfg), Control::Choice, 0, &kIpMode, kIpModeCodes},
    {TVX_FIELD(lanPingEn), Control::Switch},
    {TVX_FIELD(lanMac), Control::ReadOnly},
    {TVX_FIELD(lanStatus), Control::ReadOnly},
    {TVX_FIELD(sp0_opmode), Control::Choice, 0, &kOpMode, kOpModeCodes.data()},
    {TVX_FIELD(sp0_tcpslport), Control::Edit, 5},
    {TVX_FIELD(sp0_tcpcrip), Control::Address},
    {TVX_FIELD(sp0_tcpcrport), Control::Edit},
    {TVX_FIELD(sp0_tcpcat), Control::Choice, 0, &kConnectAt, kConnectAtCodes},
    {"webEn", offsetof(SettingsRecord, webEn), 1, Control::Switch},
    {TVX_FIELD(diolp), Control::Edit},
}};

#undef TVX_FIELD

bool isFlagField(const SettingsField& f)
{
    return f.offset == offsetof(SettingsRecord, webEn);
}

// The field's text in a record, as the module reported it.
QString readValue(const SettingsField& f, const SettingsRecord& record)
{
    const char* base = reinterpret_cast<const char*>(&record) + f.offset;
    if (isFlagField(f))
        return QString::number(static_cast<uint8_t>(*base));
    return QString::fromLatin1(base, static_cast<qsizetype>(strnlen(base, f.room)));
}

bool is(const SettingsField& f, const char* name)
{
    return std::strcmp(f.name, name) == 0;
}

Stage stageOf(const SettingsField& f)
{
    return is(f, "sp0_dpCtrl") || is(f, "lanIpCfg") || is(f, "sp0_opmode") ? Stage::Controlling
                                                                           : Stage::Dependent;
}

// The item index a choice value names: an item's text or the module's code.
int choiceIndex(const SettingsField& f, const QString& value)
{
    const QByteArray bytes = value.toLatin1();
    const int found = findItem(*f.table, bytes.constData());
    if (found >= 0 || !f.codes)
        return found;
    for (size_t i = 0; i < f.table->items.size(); ++i) {
        if (bytes == f.codes[i])
            return static_cast<int>(i);
    }
    return -1;
}

// What a module holds, given as it holds it or, for a choice, as the item's
// text for its code ("Startup" for "0").
bool holdsValue(const SettingsField& f, const QString& value, const SettingsRecord& record)
{
    const QString held = readValue(f, record);
    if (value == held)
        return true;
    if (f.control != Control::Choice)
        return false;
    const int index = choiceIndex(f, value);
    return index >= 0 && index == choiceIndex(f, held);
}

QString itemList(const SettingsField& f)
{
    QStringList items;
    for (size_t i = 0; i < f.table->items.size(); ++i) {
        QString item = QString::fromLatin1(f.table->items[i]);
        if (f.codes)
            item += QStringLiteral(" (%1)").arg(QLatin1String(f.codes[i]));
        items << item;
    }
    return items.join(QStringLiteral(", "));
}

int indexOfChar(const ComboTable& table, char c, bool firstLetter)
{
    for (size_t i = 0; i < table.items.size(); ++i) {
        const char* item = table.items[i];
        if (firstLetter ? item[0] == c : (item[0] == c && item[1] == '\0'))
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<uint32_t> addressValue(const QString& value)
{
    // An empty control reads as 0.0.0.0, which the checks then judge.
    if (value.isEmpty())
        return 0u;
    const uint32_t a = parseDottedQuad(value.toLatin1().constData());
    if (a == kDottedQuadError && value != QLatin1String("255.255.255.255"))
        return std::nullopt;
    return a;
}

// The checks of "Save to Module" that a field's text passes whatever the
// module: `always` where the window collects the field in every mode (a blank
// is then refused too), else only for a text that is not blank, since an
// unused field reads as blank in a settings file.
struct FieldRule {
    const char* name;
    EntryRule rule;
    bool always;
};
constexpr std::array<FieldRule, 7> kRules{{
    {"devName", EntryRule::DeviceName, true},
    {"diolp", EntryRule::DioListenPort, true},
    {"sp0_dpLen", EntryRule::PackingLength, false},
    {"sp0_dpTm", EntryRule::PackingTimeout, false},
    {"sp0_dpStr", EntryRule::DelimiterByte, false},
    {"sp0_tcpslport", EntryRule::ListenPort, false},
    {"sp0_tcpcrport", EntryRule::RemotePort, false},
}};

// Empty when the text passes its field's rule, else the collection's message.
QString checkRule(const SettingsField& f, const QString& value)
{
    for (const FieldRule& r : kRules) {
        if (!is(f, r.name) || (value.isEmpty() && !r.always))
            continue;
        const QByteArray text = value.toLatin1();
        // The delimiter's edits hold one byte each.
        const QList<QByteArray> parts = r.rule == EntryRule::DelimiterByte && text.size() > 2
            ? QList<QByteArray>{text.left(2), text.mid(2)}
            : QList<QByteArray>{text};
        for (const QByteArray& part : parts) {
            const CollectResult result = checkEntry(r.rule, part);
            if (!result.passed())
                return QStringLiteral("%1: %2").arg(QLatin1String(f.name), result.message);
        }
    }
    return {};
}

// The form of one value, whatever the module: empty when it could be entered.
QString checkForm(const SettingsField& f, const QString& value)
{
    const QString name = QString::fromLatin1(f.name);
    for (const QChar c : value) {
        // A control character would end the command line early and let the
        // rest be taken as another command.
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return QStringLiteral("%1: only printable ASCII characters can be entered").arg(name);
    }
    switch (f.control) {
    case Control::ReadOnly:
        return {};
    case Control::Edit:
    case Control::Delimiter:
        if (f.maxChars > 0 && value.size() > f.maxChars)
            return QStringLiteral("%1 takes at most %2 characters").arg(name).arg(f.maxChars);
        return checkRule(f, value);
    case Control::Switch:
        if (value != QLatin1String("0") && value != QLatin1String("1"))
            return QStringLiteral("%1 takes 0 or 1, not '%2'").arg(name, value);
        return {};
    case Control::Choice:
        if (choiceIndex(f, value) < 0)
            return QStringLiteral("%1: '%2' is not one of: %3").arg(name, value, itemList(f));
        return {};
    case Control::DataFormat: {
        const QByteArray b = value.toLatin1();
        if (b.size() != 3 || indexOfChar(kParity, b[0], true) < 0
            || indexOfChar(kDataBits, b[1], false) < 0 || indexOfChar(kStopBits, b[2], false) < 0)
            return QStringLiteral("%1 takes a parity letter (N, E, O, S, M), data bits (5 to 8) "
                                  "and stop bits (1 or 2), such as N81, not '%2'")
                .arg(name, value);
        return {};
    }
    case Control::PackSwitches:
        if (value.size() != 3 || value.contains(QRegularExpression(QStringLiteral("[^01]"))))
            return QStringLiteral(
                       "%1 takes three switches of 0 or 1: delimiter, timeout, length, not '%2'")
                .arg(name, value);
        return {};
    case Control::Address:
        if (!addressValue(value))
            return QStringLiteral("%1: '%2' is not a dotted IPv4 address").arg(name, value);
        return {};
    }
    return {};
}

const SettingsField* findField(const QString& name)
{
    for (const SettingsField& f : kFields) {
        if (name == QLatin1String(f.name))
            return &f;
    }
    return nullptr;
}

} // namespace

OrderedObject SettingsEdit::fields(const SettingsRecord& record)
{
    OrderedObject out;
    for (const SettingsField& f : kFields)
        out.append({QString::fromLatin1(f.name), readValue(f, record)});
    return out;
}

QByteArray SettingsEdit::fileJson(const SettingsRecord& record, const QString& target)
{
    OrderedObject object{{QStringLiteral("version"), kJsonVersion},
                         {QStringLiteral("target"), target}};
    object << fields(record);
    return jsonArray({object});
}

QString SettingsEdit::checkName(const QString& name)
{
    const SettingsField* f = findField(name);
    if (!f) {
        if (name == QLatin1String("passwd") || name == QLatin1String("newPasswd"))
            return QStringLiteral("%1: passwords are not taken from arguments or files; "
                                  "use --change-password")
                .arg(name);
        return QStringLiteral("unknown setting '%1'").arg(name);
    }
    if (f->control == Control::ReadOnly)
        return QStringLiteral("%1 is shown only and cannot be set").arg(name);
    return {};
}

namespace {

// Names every value; checks the forms of those `checkForms` asks for.
QString parseValues(const QList<QPair<QString, QString>>& raw, QList<Assignment>& out,
                    bool checkForms)
{
    out.clear();
    for (const auto& [name, value] : raw) {
        if (const QString bad = SettingsEdit::checkName(name); !bad.isEmpty())
            return bad;
        const SettingsField* f = findField(name);
        for (const Assignment& earlier : out) {
            if (earlier.field == f)
                return QStringLiteral("%1 is given twice").arg(name);
        }
        if (checkForms) {
            if (const QString problem = checkForm(*f, value); !problem.isEmpty())
                return problem;
        }
        out.append({f, value, checkForms});
    }
    return {};
}

} // namespace

QString SettingsEdit::parse(const QList<QPair<QString, QString>>& raw, QList<Assignment>& out)
{
    return parseValues(raw, out, true);
}

QString SettingsEdit::parseArguments(const QStringList& arguments, QList<Assignment>& out)
{
    QList<QPair<QString, QString>> raw;
    for (const QString& a : arguments) {
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        raw.append({a.left(eq), a.mid(eq + 1)});
    }
    return parse(raw, out);
}

QString SettingsEdit::parseFile(const QByteArray& bytes, const QString& path, SettingsFile& out)
{
    out = SettingsFile();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("%1: %2 at offset %3")
            .arg(path, error.errorString())
            .arg(error.offset);
    if (const std::optional<QString> twice = repeatedJsonKey(bytes))
        return QStringLiteral("%1: \"%2\" is given twice").arg(path, printableText(*twice));
    QJsonObject object;
    if (doc.isObject()) {
        object = doc.object();
    } else if (doc.isArray() && doc.array().size() == 1 && doc.array().first().isObject()) {
        object = doc.array().first().toObject();
    } else {
        return QStringLiteral("%1: expected the settings of one module: one JSON object, or an "
                              "array holding exactly one")
            .arg(path);
    }
    QList<QPair<QString, QString>> raw;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString name = it.key();
        const QJsonValue v = it.value();
        if (name == QLatin1String("version") || name == QLatin1String("target"))
            continue;
        QString text;
        if (v.isString())
            text = v.toString();
        else if (v.isDouble() && v.toDouble() == static_cast<double>(v.toInteger()))
            text = QString::number(v.toInteger());
        else
            return QStringLiteral("%1: %2 must be a string").arg(path, name);
        const SettingsField* f = findField(name);
        if (f && f->control == Control::ReadOnly) {
            // What the module reports about itself goes nowhere; its MAC says
            // where the file came from.
            if (is(*f, "lanMac"))
                out.savedFromMac = text;
            out.shownOnly << name;
            continue;
        }
        raw.append({name, text});
    }
    const QString problem = parseValues(raw, out.assignments, false);
    return problem.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(path, problem);
}

QString SettingsEdit::readFile(const QString& path, SettingsFile& out)
{
    QString error;
    const std::optional<QByteArray> bytes = readRegularFile(path, kTextFileMaxBytes, error);
    if (!bytes)
        return error;
    return parseFile(*bytes, path, out);
}

QStringList SettingsEdit::dropAddress(QList<Assignment>& assignments)
{
    QStringList dropped;
    for (qsizetype i = assignments.size() - 1; i >= 0; --i) {
        const SettingsField& f = *assignments[i].field;
        if (is(f, "lanIp") || is(f, "lanMask") || is(f, "lanGw") || is(f, "lanIpCfg")) {
            dropped.prepend(QString::fromLatin1(f.name));
            assignments.removeAt(i);
        }
    }
    return dropped;
}

bool SettingsEdit::sameModule(const QString& savedFromMac, const QString& lanMac)
{
    const QString a = savedFromMac.trimmed().toUpper().replace(QLatin1Char('-'), QLatin1Char(':'));
    return !a.isEmpty() && a == lanMac.trimmed().toUpper();
}

QList<SettingsChange> SettingsEdit::changes(const SettingsRecord& asRead,
                                            const SettingsRecord& toWrite)
{
    QList<SettingsChange> out;
    const auto lineText = [](const WriteLine& line, const SettingsRecord& record) {
        char text[512];
        const size_t n = formatWriteLine(line, record, text, sizeof text);
        return QByteArray(text, static_cast<qsizetype>(n));
    };
    for (const WriteLine& line : writeLines()) {
        if (!writeLineApplies(line, toWrite))
            continue;
        if (line.condition == WriteCondition::PasswordChange) {
            out.append({QStringLiteral("passwd"), QString(), QString()});
            continue;
        }
        // A line that a switched mode now sends with the value the module
        // already holds changes nothing by itself.
        if (lineText(line, asRead) == lineText(line, toWrite))
            continue;
        for (const SettingsField& f : kFields) {
            if (f.offset == line.field.offset)
                out.append(
                    {QString::fromLatin1(f.name), readValue(f, asRead), readValue(f, toWrite)});
        }
    }
    return out;
}

QString SettingsEdit::apply(const QList<Assignment>& assignments, const SettingsRecord* asRead,
                            CfgEntries& now, bool skipInactive, const SettingsRecord* holds)
{
    // Nothing goes in unless every value that changes something could have
    // been entered.
    const SettingsRecord* module = asRead ? asRead : holds;
    for (const Assignment& a : assignments) {
        if (a.formChecked || (module && holdsValue(*a.field, a.value, *module)))
            continue;
        if (const QString problem = checkForm(*a.field, a.value); !problem.isEmpty())
            return problem;
    }
    for (const Stage stage : {Stage::Controlling, Stage::Dependent}) {
        for (const Assignment& a : assignments) {
            const SettingsField& f = *a.field;
            if (stageOf(f) != stage || (asRead && holdsValue(f, a.value, *asRead)))
                continue;
            const QString name = QString::fromLatin1(f.name);
            const QByteArray v = a.value.toLatin1();
            QString refusal;
            const auto hiddenBy = [&](const char* control) {
                return QStringLiteral("%1 cannot be changed while %2")
                    .arg(name, QLatin1String(control));
            };
            switch (f.control) {
            case Control::ReadOnly:
                return QStringLiteral("%1 is shown only and cannot be set").arg(name);
            case Control::PackSwitches:
                now.dpStrOn = v[0] == '1';
                now.dpTmOn = v[1] == '1';
                now.dpLenOn = v[2] == '1';
                now.emptyUntickedPacking();
                break;
            case Control::Choice: {
                const int index = choiceIndex(f, a.value);
                if (is(f, "sp0_baud"))
                    now.baud = index;
                else if (is(f, "sp0_fc"))
                    now.fc = index;
                else if (is(f, "sp0_if"))
                    now.iface = index;
                else if (is(f, "lanIpCfg"))
                    now.ipcfg = index;
                else if (is(f, "sp0_opmode"))
                    now.opmode = index;
                else if (now.opmode != kOpModeClient) {
                    refusal = hiddenBy("sp0_opmode is not TCP Client");
                    break;
                } else
                    now.tcpcat = index;
                break;
            }
            case Control::DataFormat:
                now.parity = indexOfChar(kParity, v[0], true);
                now.dataBits = indexOfChar(kDataBits, v[1], false);
                now.stopBits = indexOfChar(kStopBits, v[2], false);
                break;
            case Control::Switch:
                if (isFlagField(f)) {
                    now.webEn = v == "1";
                } else {
                    if (now.ipcfg == kIpModeDhcp) {
                        refusal = hiddenBy("lanIpCfg is DHCP");
                        break;
                    }
                    now.pingEn = v == "1";
                }
                break;
            case Control::Address: {
                const uint32_t address = addressValue(a.value).value_or(0);
                if (is(f, "sp0_tcpcrip")) {
                    if (now.opmode != kOpModeClient) {
                        refusal = hiddenBy("sp0_opmode is not TCP Client");
                        break;
                    }
                    now.remoteIp = address;
                    break;
                }
                if (now.ipcfg == kIpModeDhcp) {
                    refusal = hiddenBy("lanIpCfg is DHCP");
                    break;
                }
                (is(f, "lanIp") ? now.ip : is(f, "lanMask") ? now.mask : now.gw) = address;
                break;
            }
            case Control::Delimiter:
                if (!now.dpStrOn) {
                    refusal = hiddenBy("the delimiter switch of sp0_dpCtrl is 0");
                    break;
                }
                now.dpStr0 = a.value.left(2);
                now.dpStr1 = a.value.mid(2);
                break;
            case Control::Edit:
                if (is(f, "devName")) {
                    now.devName = a.value;
                } else if (is(f, "diolp")) {
                    now.diolp = a.value;
                } else if (is(f, "sp0_dpLen")) {
                    if (!now.dpLenOn) {
                        refusal = hiddenBy("the length switch of sp0_dpCtrl is 0");
                        break;
                    }
                    now.dpLen = a.value;
                } else if (is(f, "sp0_dpTm")) {
                    if (!now.dpTmOn) {
                        refusal = hiddenBy("the timeout switch of sp0_dpCtrl is 0");
                        break;
                    }
                    now.dpTm = a.value;
                } else if (is(f, "sp0_tcpslport")) {
                    if (now.opmode != kOpModeServer) {
                        refusal = hiddenBy("sp0_opmode is not TCP Server");
                        break;
                    }
                    now.tcpslport = a.value;
                } else {
                    if (now.opmode != kOpModeClient) {
                        refusal = hiddenBy("sp0_opmode is not TCP Client");
                        break;
                    }
                    now.tcpcrport = a.value;
                }
                break;
            }
            if (!refusal.isEmpty() && !skipInactive)
                return refusal;
        }
    }
    return {};
}

} // namespace tvx
