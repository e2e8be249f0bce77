#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace tvx {

// Names a module after the caption of a window that is reused from one
// operation to the next, while it lives; then the caption is the window's own
// again. An empty line leaves the caption alone.
class ModuleTitle {
public:
    ModuleTitle(QWidget* window, const QString& line) : window_(window)
    {
        if (!window_ || line.isEmpty())
            return;
        caption_ = window_->windowTitle();
        window_->setWindowTitle(caption_ + QStringLiteral(" \u2014 ") + line);
        named_ = true;
    }
    ~ModuleTitle()
    {
        if (named_ && window_)
            window_->setWindowTitle(caption_);
    }
    ModuleTitle(const ModuleTitle&) = delete;
    ModuleTitle& operator=(const ModuleTitle&) = delete;

private:
    QPointer<QWidget> window_;
    QString caption_;
    bool named_ = false;
};

} // namespace tvx
