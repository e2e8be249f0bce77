#pragma once

#include <QObject>

class QSocketNotifier;

namespace tvx {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the UI thread, so that
// they end the program through the same path as the Exit button: the workers
// stop and remove their temporary ARP entries and routes. The handler only
// writes one byte into a socket pair; everything else runs in the event loop.
class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;
    ExitSignals(const ExitSignals&) = delete;
    ExitSignals& operator=(const ExitSignals&) = delete;

    // False when the socket pair could not be made (the signals then keep
    // their default action).
    bool installed() const { return notifier_ != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tvx
