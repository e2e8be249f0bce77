// The application object: an exception that escapes an event handler is
// shown in the one standard box and the program goes on.
#include "app/TarvanixApplication.h"
#include "common/ScriptedPrompter.h"

#include <QPushButton>
#include <QtTest>

#include <stdexcept>

using namespace tvx;
using tvx::test::ScriptedPrompter;

namespace {

// An object whose handler throws on the first events it gets.
class Thrower : public QObject {
public:
    int throwsLeft = 1;
    int handled = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (throwsLeft > 0) {
            --throwsLeft;
            throw std::runtime_error("'abc' is not a valid integer value");
        }
        ++handled;
        return true;
    }
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT
public:
    ScriptedPrompter prompter;
private slots:
    void init() { prompter.clear(); }
    void sentEventExceptionIsShown();
    void postedEventExceptionIsShownAndLoopGoesOn();
    void clickHandlerExceptionIsShown();
};

void TestApplication::sentEventExceptionIsShown()
{
    Thrower t;
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(&t, &e);
    QCOMPARE(prompter.count(), 1);
    QCOMPARE(prompter.shown().first().kind, QStringLiteral("exception"));
    QCOMPARE(prompter.shown().first().text, QStringLiteral("'abc' is not a valid integer value"));
    QCoreApplication::sendEvent(&t, &e);
    QCOMPARE(t.handled, 1);
    QCOMPARE(prompter.count(), 1);
}

void TestApplication::postedEventExceptionIsShownAndLoopGoesOn()
{
    Thrower t;
    t.throwsLeft = 2;
    for (int i = 0; i < 4; ++i)
        QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    bool later = false;
    QTimer::singleShot(0, [&later] { later = true; });
    QTRY_VERIFY(later);
    QTRY_COMPARE(t.handled, 2);
    QCOMPARE(prompter.count(), 2);
}

void TestApplication::clickHandlerExceptionIsShown()
{
    QPushButton button(QStringLiteral("Go"));
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] {
        if (++clicks == 1)
            throw std::logic_error("handler failed");
    });
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(prompter.count(), 1);
    QCOMPARE(prompter.shown().first().text, QStringLiteral("handler failed"));
    // The button still works: the program went on.
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 2);
    QCOMPARE(prompter.count(), 1);
}

int main(int argc, char** argv)
{
    TarvanixApplication app(argc, argv);
    TestApplication test;
    app.setPrompter(&test.prompter);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
