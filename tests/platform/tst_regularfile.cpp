// The whole-file writer behind the windows' exports and settings files: a file
// is replaced as a whole or left as it was, and nothing but a regular file is
// ever opened for writing.
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tvx;

class TestRegularFile : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    }
    mode_t modeOf(const QString& path)
    {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    // What the folder holds besides the files a test made: a left temporary file.
    QStringList leftovers(const QStringList& expected)
    {
        QStringList names =
            QDir(dir_.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& e : expected)
            names.removeAll(e);
        return names;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void replacesAsAWholeKeepingModeAndLinks()
    {
        const QString fresh = dir_.filePath(QStringLiteral("fresh.csv"));
        QCOMPARE(writeRegularFile(fresh, "a,b\n"), QString());
        QCOMPARE(contents(fresh), QByteArray("a,b\n"));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(modeOf(fresh), mode_t(0666 & ~mask));

        QVERIFY(::chmod(QFile::encodeName(fresh).constData(), 0640) == 0);
        QCOMPARE(writeRegularFile(fresh, "c,d\n"), QString());
        QCOMPARE(contents(fresh), QByteArray("c,d\n"));
        QCOMPARE(modeOf(fresh), mode_t(0640));

        const QString link = dir_.filePath(QStringLiteral("link.csv"));
        QVERIFY(QFile::link(fresh, link));
        QCOMPARE(writeRegularFile(link, "e,f\n"), QString());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contents(fresh), QByteArray("e,f\n"));
        QCOMPARE(leftovers({"fresh.csv", "link.csv"}), QStringList());
        QFile::remove(link);
        QFile::remove(fresh);
    }

    // A write that fails half way (here: the file size limit, as a full disk
    // would) leaves the old file whole and no temporary file behind.
    void failedWriteLeavesTheOldFile()
    {
        const QString path = dir_.filePath(QStringLiteral("old.json"));
        QCOMPARE(writeRegularFile(path, "[]\n"), QString());
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const QString error = writeRegularFile(path, QByteArray(10000, 'x'));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(error, path + QStringLiteral(": File too large"));
        QCOMPARE(contents(path), QByteArray("[]\n"));
        QCOMPARE(leftovers({"old.json"}), QStringList());
        QFile::remove(path);
    }

    // Nothing is opened that could wait or act: a FIFO without a reader, a
    // device, a folder are refused by name, and stay what they were.
    void onlyRegularFilesAreWritten()
    {
        const QString fifo = dir_.filePath(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QCOMPARE(writeRegularFile(fifo, "x"), fifo + QStringLiteral(": not a regular file"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QCOMPARE(writeRegularFile(QStringLiteral("/dev/full"), "x"),
                 QStringLiteral("/dev/full: not a regular file"));
        QCOMPARE(writeRegularFile(dir_.path(), "x"),
                 dir_.path() + QStringLiteral(": is a folder, not a file"));
        const QString nowhere = dir_.filePath(QStringLiteral("missing/d.csv"));
        QCOMPARE(writeRegularFile(nowhere, "x"),
                 nowhere + QStringLiteral(": No such file or directory"));
        QCOMPARE(leftovers({"pipe"}), QStringList());

        UniqueFd fd;
        QCOMPARE(openRegularFile(QFile::encodeName(fifo).constData(), fd, st),
                 FileOpen::NotRegular);
        QVERIFY(!fd);
    }
};

QTEST_APPLESS_MAIN(TestRegularFile)
#include "tst_regularfile.moc"
