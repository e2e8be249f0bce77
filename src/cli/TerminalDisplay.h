#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <cstdio>
#include <mutex>

namespace tvx::cli {

// Everything the program tells the user while it works goes to standard error
// through here. On a terminal one status line at the bottom carries a bar (of
// the one run, or of the whole fleet), redrawn in place; elsewhere each new
// stage of a run is one plain line, so a log file stays readable. A run's
// share done only grows: its steps' bars start again from their beginning,
// the run's does not. Messages and log lines are printed above the status
// line. Any thread. Every text is shown with its control characters escaped:
// messages quote what modules sent.
class TerminalDisplay {
public:
    // `bar`: draw the status line (standard error is a terminal).
    explicit TerminalDisplay(bool bar, std::FILE* out = stderr);

    static bool stderrIsTerminal();

    // --quiet: no bar and no progress lines; line() still prints.
    void setQuiet(bool quiet) { quiet_ = quiet; }

    // `total` runs are about to be shown; 0 for a single run without names.
    void beginRuns(int total);
    // A run's label text, as its progress window would show it, and the share
    // of the run done (0 to 1); a share below one shown before is not shown.
    void progress(const QString& run, const QString& message, double done);
    // The run is over: it counts as done for the fleet's bar.
    void runEnded(const QString& run);

    // One line above the status line.
    void line(const QString& text);
    // Removes the status line (before the summary or a prompt).
    void clearStatus();

private:
    struct RunState {
        QString message;
        QString shownStage;
        int shownQuarter = -1;
        double fraction = 0;
    };

    void drawStatusLocked(bool force);
    void eraseLocked();
    int width() const;

    bool bar_;
    bool quiet_ = false;
    std::FILE* out_;
    std::mutex lock_;
    int total_ = 0;
    int ended_ = 0;
    QHash<QString, RunState> runs_;
    QString lastStatus_;
    bool statusShown_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace tvx::cli
