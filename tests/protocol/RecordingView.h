#pragma once

#include "handover/ProgressView.h"

#include <QObject>
#include <QStringList>

#include <algorithm>

namespace tvx::test {

// A progress window without a window: keeps the label, the bar (0..100, step
// 10, as the read/write progress window) and every label text it was given.
class RecordingView : public QObject, public ProgressView {
public:
    void setMessage(const QString& text) override { messages << text; }
    void setPosition(int value) override { position = std::clamp(value, 0, 100); }
    void stepIt() override { stepBy(10); }
    void stepBy(int delta) override { position = std::clamp(position + delta, 0, 100); }
    void closeProgress() override { ++closes; }
    void reset()
    {
        messages.clear();
        position = 10;
        closes = 0;
    }

    QStringList messages;
    int position = 10;
    int closes = 0;
};

} // namespace tvx::test
