#pragma once

#include <QApplication>

namespace tvx {

class Prompter;

// The application object. An exception that escapes an event handler ends up
// here: it is shown in the one standard error box and the program goes on,
// as the event loop would otherwise end the program.
class TarvanixApplication : public QApplication {
    Q_OBJECT
public:
    TarvanixApplication(int& argc, char** argv);

    // The box that shows escaped exceptions; without one they are only logged
    // to standard error.
    void setPrompter(Prompter* prompter) { prompter_ = prompter; }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    void showEscaped(const QString& text);

    Prompter* prompter_ = nullptr;
    bool showing_ = false;
};

} // namespace tvx
