// The command line's checks before anything is looked up or sent, without a
// network and without root: the options and their combinations, target
// names and targets files, commissioning plans, and settings given as
// arguments or in a file.
#include "cli/CliRequest.h"
#include "cli/CommissionPlan.h"
#include "cli/TargetId.h"
#include "config/SettingsEdit.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tvx;
using namespace tvx::cli;

class tst_CliParsing : public QObject {
    Q_OBJECT
private slots:
    void refusedCommandLines_data();
    void refusedCommandLines();
    void acceptedCommandLine();
    void targetNames_data();
    void targetNames();
    void targetsFile_data();
    void targetsFile();
    void planRefusals_data();
    void planRefusals();
    void planLines();
    void settingsArguments_data();
    void settingsArguments();
    void settingsFile();

private:
    QString write(const QByteArray& bytes);
    QTemporaryDir dir_;
};

QString tst_CliParsing::write(const QByteArray& bytes)
{
    const QString path = dir_.filePath(QStringLiteral("input"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

void tst_CliParsing::refusedCommandLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("error");
    QTest::newRow("no command") << "--quiet"
                                << "missing command";
    QTest::newRow("unknown command") << "frob 192.0.2.1"
                                     << "unknown command 'frob'";
    QTest::newRow("unknown option") << "get --fast 192.0.2.1"
                                    << "unknown option '--fast'";
    QTest::newRow("a password as an option")
        << "get --password=abc 192.0.2.1"
        << "passwords are not taken from the command line; use TARVANIX_PASSWORD, a targets "
           "file or the prompt";
    QTest::newRow("value missing at the end") << "get --targets"
                                              << "option '--targets' needs a value";
    QTest::newRow("value on a switch") << "discover --json=yes"
                                       << "option '--json' takes no value";
    QTest::newRow("jobs out of range") << "get -j 65 192.0.2.1"
                                       << "--jobs takes a number from 1 to 64, not '65'";
    QTest::newRow("no target") << "get"
                               << "missing target (a TARGET, --all or --targets FILE)";
    QTest::newRow("all and a target") << "reboot --all 192.0.2.1"
                                      << "--all excludes other targets";
    QTest::newRow("set without values") << "set 192.0.2.1"
                                        << "set needs --from FILE, NAME=VALUE or --plan FILE";
    QTest::newRow("from and values") << "set --from f.json 192.0.2.1 devName=a"
                                     << "--from excludes NAME=VALUE";
    QTest::newRow("plan with a target") << "set --plan p.csv 192.0.2.1"
                                        << "--plan excludes targets, --all and --targets";
    QTest::newRow("plan elsewhere") << "get --plan p.csv"
                                    << "--plan belongs to set";
    QTest::newRow("json and csv") << "discover --json --csv"
                                  << "--json and --csv exclude each other";
    QTest::newRow("upgrade without a file") << "upgrade 192.0.2.1"
                                            << "upgrade needs --firmware FILE";
    QTest::newRow("wait on get") << "get --wait 192.0.2.1"
                                 << "--wait belongs to reboot and upgrade";
    QTest::newRow("tty options elsewhere") << "get --link /tmp/x 192.0.2.1"
                                           << "--link, --port, --group and --mode belong to tty";
    QTest::newRow("tty for two") << "tty --link /tmp/x 192.0.2.1 192.0.2.2"
                                 << "tty takes exactly one TARGET";
    QTest::newRow("tty mode not octal") << "tty --link /tmp/x --mode 0999 192.0.2.1"
                                        << "--mode takes octal permissions such as 0660";
}

void tst_CliParsing::refusedCommandLines()
{
    QFETCH(QString, line);
    QFETCH(QString, error);
    QCOMPARE(parseCommandLine(line.split(QLatin1Char(' '))).error, error);
}

void tst_CliParsing::acceptedCommandLine()
{
    const ParsedCommandLine set = parseCommandLine(
        {"set", "--jobs=8", "192.0.2.1", "devName=a=b", "--", "-odd", "--dry-run"});
    QVERIFY2(set.ok(), qPrintable(set.error));
    QCOMPARE(set.request.command, Command::Set);
    QCOMPARE(set.request.jobs, 8);
    // After "--" nothing is an option; a word with "=" is a setting wherever it stands.
    QCOMPARE(set.request.targets, (QStringList{"192.0.2.1", "-odd", "--dry-run"}));
    QCOMPARE(set.request.assignments, QStringList{"devName=a=b"});
    QVERIFY(!set.request.dryRun);

    // A unit passes the variables its configuration leaves empty.
    const ParsedCommandLine tty =
        parseCommandLine({"tty", "--link=/run/x", "--port=", "--mode=", "--group=", "02:54"});
    QVERIFY2(tty.ok(), qPrintable(tty.error));
    QCOMPARE(tty.request.port, 0);
    QCOMPARE(tty.request.mode, -1);
    QCOMPARE(parseCommandLine({"tty", "--link", "/run/x", "--mode", "0640", "x"}).request.mode,
             0640);

    // Help needs nothing else.
    const ParsedCommandLine help = parseCommandLine({"set", "--help"});
    QVERIFY(help.ok());
    QVERIFY(help.request.help);
}

void tst_CliParsing::targetNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("mac");
    QTest::addColumn<QString>("key");
    QTest::newRow("address") << "192.0.2.010" << true << false << "192.0.2.10";
    QTest::newRow("MAC with colons") << "02:54:58:01:00:0a" << true << true << "02:54:58:01:00:0A";
    QTest::newRow("MAC with dashes") << "02-54-58-01-00-0A" << true << true << "02:54:58:01:00:0A";
    QTest::newRow("no address") << "0.0.0.0" << false << false << "";
    QTest::newRow("broadcast") << "255.255.255.255" << false << false << "";
    QTest::newRow("mixed separators") << "02:54-58:01:00:0A" << false << false << "";
    QTest::newRow("five groups") << "02:54:58:01:00" << false << false << "";
    QTest::newRow("host name") << "module-7" << false << false << "";
}

void tst_CliParsing::targetNames()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, mac);
    QFETCH(QString, key);
    const std::optional<TargetId> id = TargetId::parse(text);
    QCOMPARE(id.has_value(), valid);
    if (!id)
        return;
    QCOMPARE(id->kind == TargetId::Kind::Mac, mac);
    QCOMPARE(id->key, key);
    QCOMPARE(id->text, text);
}

void tst_CliParsing::targetsFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // after "PATH"
    QTest::newRow("comments and blanks")
        << QByteArray("# site A\n\n  192.0.2.1\n02-54-58-01-00-0a  s3cret\r\n") << "";
    QTest::newRow("three columns") << QByteArray("192.0.2.1\n192.0.2.2 pw extra\n")
                                   << ":2: expected a target and at most a password";
    QTest::newRow("not a target") << QByteArray("# one\nmodule-7\n")
                                  << ":2: 'module-7' is neither an IP address nor a MAC address";
    // The message never repeats what may be a password.
    QTest::newRow("long password")
        << QByteArray("192.0.2.1 ninechars\n") << ":1: password longer than 8 characters";
    QTest::newRow("nothing in it") << QByteArray("# none yet\n\n") << ": no target in the file";
}

void tst_CliParsing::targetsFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    const QString path = write(content);
    const TargetsFile file = readTargetsFile(path);
    if (!error.isEmpty()) {
        QCOMPARE(file.error, path + error);
        return;
    }
    QCOMPARE(file.error, QString());
    QCOMPARE(file.targets.size(), 2);
    QCOMPARE(file.targets[0].key, QStringLiteral("192.0.2.1"));
    QVERIFY(!file.targets[0].password);
    QCOMPARE(file.targets[1].key, QStringLiteral("02:54:58:01:00:0A"));
    QCOMPARE(file.targets[1].password, std::optional<QByteArray>("s3cret"));
}

void tst_CliParsing::planRefusals_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("error"); // after "p.csv"
    const QByteArray header = "lanMac,devName,lanIp\n";
    QTest::newRow("empty") << QByteArray("\n\n") << ": no header (lanMac and the settings to give)";
    QTest::newRow("no lanMac column")
        << QByteArray("devName\nx\n") << ":1: the header names no lanMac column";
    QTest::newRow("column twice") << QByteArray("lanMac,devName,devName\n")
                                  << ":1: column 'devName' is given twice";
    QTest::newRow("unknown column")
        << QByteArray("lanMac,colour\n") << ":1: unknown setting 'colour'";
    QTest::newRow("no module") << header << ": no module in the plan";
    QTest::newRow("fields missing") << header + "02:54:58:01:00:01,a\n"
                                    << ":2: 2 fields, the header names 3";
    QTest::newRow("bad MAC") << header + "192.0.2.1,a,\n"
                             << ":2: lanMac: '192.0.2.1' is not a MAC address";
    QTest::newRow("MAC twice") << header + "02:54:58:01:00:01,a,\n02-54-58-01-00-01,b,\n"
                               << ":3: 02:54:58:01:00:01 is already on line 2";
    QTest::newRow("address twice, written two ways")
        << header + "02:54:58:01:00:01,a,10.0.0.10\n02:54:58:01:00:02,b,10.0.0.010\n"
        << ":3: lanIp 10.0.0.10 is already given on line 2";
    QTest::newRow("value refused") << QByteArray("lanMac,diolp\n02:54:58:01:00:01,abc\n")
                                   << ":2: diolp: 'abc' is not a valid integer value";
    QTest::newRow("quote not closed") << header + "02:54:58:01:00:01,\"a,\n"
                                      << ": line 2: a quoted field is not closed";
    QTest::newRow("quote inside a field") << header + "02:54:58:01:00:01,a\"b,\n"
                                          << ": line 2: a quote inside a field that does not "
                                             "begin with one";
    QTest::newRow("carriage return alone") << QByteArray("lanMac\r02:54:58:01:00:01\n")
                                           << ": line 1: a carriage return without a line feed";
}

void tst_CliParsing::planRefusals()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, error);
    const CommissionPlan plan = parsePlan(csv, QStringLiteral("p.csv"));
    QCOMPARE(plan.error, QStringLiteral("p.csv") + error);
}

void tst_CliParsing::planLines()
{
    // As a spreadsheet saves it: a byte-order mark, CR LF, a quoted field
    // with a comma and a doubled quote, an empty line, empty cells.
    const QByteArray csv = "\xEF\xBB\xBFlanMac,devName,lanIp\r\n"
                           "02-54-58-01-00-0a,\"Hall \"\"B\"\", 3\",010.0.0.7\r\n"
                           "\r\n"
                           "02:54:58:01:00:0b,,\r\n";
    const CommissionPlan plan = parsePlan(csv, QStringLiteral("p.csv"));
    QCOMPARE(plan.error, QString());
    QCOMPARE(plan.lines.size(), 2);
    const PlanLine& first = plan.lines[0];
    QCOMPARE(first.number, 2);
    QCOMPARE(first.module.key, QStringLiteral("02:54:58:01:00:0A"));
    QCOMPARE(first.lanIp, QStringLiteral("10.0.0.7"));
    QCOMPARE(first.assignments.size(), 2);
    QCOMPARE(first.assignments[0].value, QStringLiteral("Hall \"B\", 3"));
    const PlanLine& second = plan.lines[1];
    QCOMPARE(second.number, 4);
    QVERIFY(second.assignments.isEmpty());
    QVERIFY(second.lanIp.isEmpty());

    // A record that holds a line break is numbered by the line it begins on.
    QList<CsvRecord> records;
    QString error;
    QVERIFY(parseCsv("a,\"two\nlines\"\nb,c,", records, error));
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].fields, (QStringList{"a", "two\nlines"}));
    QCOMPARE(records[1].line, 3);
    QCOMPARE(records[1].fields, (QStringList{"b", "c", ""}));
}

void tst_CliParsing::settingsArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("two settings") << QStringList{"devName=Hall", "webEn=0"} << "";
    QTest::newRow("unknown") << QStringList{"colour=red"} << "unknown setting 'colour'";
    QTest::newRow("shown only") << QStringList{"fmwVer=V2"}
                                << "fmwVer is shown only and cannot be set";
    QTest::newRow("a password")
        << QStringList{"passwd=abc"}
        << "passwd: passwords are not taken from arguments or files; use --change-password";
    QTest::newRow("twice") << QStringList{"devName=a", "devName=b"} << "devName is given twice";
    QTest::newRow("flag") << QStringList{"webEn=2"} << "webEn takes 0 or 1, not '2'";
}

void tst_CliParsing::settingsArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QList<Assignment> out;
    QCOMPARE(SettingsEdit::parseArguments(arguments, out), error);
    if (error.isEmpty()) {
        QCOMPARE(out.size(), arguments.size());
        QCOMPARE(out[0].value, QStringLiteral("Hall"));
        QVERIFY(out[0].formChecked);
    }
}

void tst_CliParsing::settingsFile()
{
    // As `get --json` writes it for one module.
    const QString path = write(R"([{"version": 1, "target": "192.0.2.7", "devName": "Hall",
        "diolp": 4001, "fmwVer": "V1.05", "lanMac": "02:54:58:01:00:0A", "lanIp": "10.0.0.7"}])");
    SettingsFile file;
    QCOMPARE(SettingsEdit::readFile(path, file), QString());
    // The fields by name, as the arguments name them.
    const QStringList names{"devName", "diolp", "lanIp"};
    QList<Assignment> named;
    QCOMPARE(SettingsEdit::parseArguments({"devName=x", "diolp=1", "lanIp=10.0.0.1"}, named),
             QString());
    QStringList taken;
    for (const Assignment& a : file.assignments) {
        for (qsizetype i = 0; i < named.size(); ++i) {
            if (named[i].field == a.field)
                taken << names[i] + QLatin1Char('=') + a.value;
        }
        // Checked against the module only where it differs from it.
        QVERIFY(!a.formChecked);
    }
    taken.sort();
    QCOMPARE(taken, (QStringList{"devName=Hall", "diolp=4001", "lanIp=10.0.0.7"}));
    file.shownOnly.sort();
    QCOMPARE(file.shownOnly, (QStringList{"fmwVer", "lanMac"}));
    QCOMPARE(file.savedFromMac, QStringLiteral("02:54:58:01:00:0A"));

    SettingsFile other;
    QCOMPARE(SettingsEdit::parseFile("[{}, {}]", QStringLiteral("f.json"), other),
             QStringLiteral("f.json: expected the settings of one module: one JSON object, or an "
                            "array holding exactly one"));
    QCOMPARE(SettingsEdit::parseFile(R"({"devName": ["a"]})", QStringLiteral("f.json"), other),
             QStringLiteral("f.json: devName must be a string"));
}

QTEST_APPLESS_MAIN(tst_CliParsing)
#include "tst_cli_parsing.moc"
