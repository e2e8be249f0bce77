#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace tvx::test {

// One LAN of the bed: a namespace of its own, joined to the host namespace by one link.
struct BedLan {
    QString name; // also the name of the host's interface to it
    QString ns; // the LAN's namespace
    QString hostInterface;
    QString hostAddress; // the host's address on this LAN
    int prefix = 0;
    QString control; // control socket of the simulator serving this LAN
};

// One simulated module as the bed made it.
struct BedModule {
    QString name;
    QString lan;
    QString ip;
    int prefix = 0;
    QString mac; // upper-case, colon-separated: the MAC of the module's own link
    QString password; // empty when the module has none
    bool outside = false; // its address lies in none of the host's subnets
    QString interfaceName; // its link inside the LAN namespace
    QString deviceName;
    QString model;
    QString firmware;
    QString control;
    QString transcript;
};

// One line of a module's transcript.
struct TranscriptEvent {
    qint64 ms = 0; // wall-clock milliseconds since the epoch
    int exchange = 0; // one TCP connection, one discovery request or one transfer; 0: module
    QString proto; // "tcp", "disc", "tftp" or "mod"
    QString event; // "open", "recv", "send", "close" or "note"
    QByteArray bytes; // recv and send: the bytes on the wire
    QString text; // open, close and note: the text after the event
};

struct NeighbourEntry {
    QString ip, mac, dev;
    QStringList state;
};

struct RouteEntry {
    QString dst, dev, protocol, scope, prefsrc, gateway;
};

// The bed a test runs in, as described by the runner (TVX_BED_INFO), and the handles on its
// simulated modules: fault switches, state and transcripts. Tests run in the host namespace,
// so the neighbour and route tables read here are the host's.
class TestBed {
public:
    TestBed();

    // False, with the reason, outside a bed; tests QSKIP with it.
    bool isValid() const { return error_.isEmpty(); }
    QString error() const { return error_; }

    QString prefix() const { return prefix_; }
    QString hostNamespace() const { return hostNs_; }
    const QList<BedLan>& lans() const { return lans_; }
    const QList<BedModule>& modules() const { return modules_; }
    // The module of that name; a default-constructed one (empty name) when there is none.
    BedModule module(const QString& name) const;
    QList<BedModule> outsideModules() const;
    QList<BedModule> modulesWithPassword() const;

    // -- control ------------------------------------------------------------------------------
    // Sends "VERB MODULE ARGS" to the module's simulator; returns the answer lines before the
    // final "ok". On "error ..." or no answer, `ok` is false and the text is the error.
    QStringList control(const QString& module, const QString& verb, const QString& args = {},
                        bool* ok = nullptr) const;
    bool setFault(const QString& module, const QString& faultSwitch) const;
    bool clearFaults(const QString& module, const QString& name = {}) const;
    bool setSetting(const QString& module, const QString& field, const QString& value) const;
    bool restart(const QString& module) const;
    // The module's state lines as a map: state, armed, address, restarts, transfers,
    // lastTransfer, connections, faults, setting.<field>.
    QMap<QString, QString> state(const QString& module) const;
    QString setting(const QString& module, const QString& field) const;
    // Waits until the module answers again after a restart (state=up).
    bool waitUntilUp(const QString& module, int timeoutMs = 10000) const;

    // -- transcripts --------------------------------------------------------------------------
    QList<TranscriptEvent> transcript(const QString& module) const;
    bool clearTranscript(const QString& module) const;
    // Ids of the exchanges of one kind ("tcp", "disc", "tftp"), oldest first.
    QList<int> exchanges(const QString& module, const QString& proto) const;
    // Every byte the module received (or sent) in one exchange, in order. For UDP the
    // datagrams are concatenated; use transcript() to see them one by one.
    QByteArray received(const QString& module, int exchange) const;
    QByteArray sent(const QString& module, int exchange) const;
    // The received or sent chunks of one exchange, one per recv/send event.
    QList<QByteArray> receivedChunks(const QString& module, int exchange) const;
    QList<QByteArray> sentChunks(const QString& module, int exchange) const;

    // -- the host's tables (the namespace the test runs in) ----------------------------------
    static QList<NeighbourEntry> neighbours();
    static QList<RouteEntry> routes();
    // What the utility pins: permanent neighbour entries and static routes. Both are empty in
    // a fresh bed and must be empty again after every operation.
    static QList<NeighbourEntry> permanentNeighbours();
    static QList<RouteEntry> staticRoutes();

    // A firmware image the simulator accepts: 55 AA F1, the version text, a zero byte, then
    // filler up to `size` bytes (at least the header).
    static QByteArray firmwareImage(const QString& version, int size);

private:
    QString error_;
    QString prefix_;
    QString hostNs_;
    QList<BedLan> lans_;
    QList<BedModule> modules_;
};

} // namespace tvx::test
