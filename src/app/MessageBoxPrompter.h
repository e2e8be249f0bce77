#pragma once

#include "handover/Prompter.h"

class QWidget;

namespace tvx {

// The prompts as real message boxes, parented to the window that owns the
// prompt (Prompter::owner), else to the main window.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    void showError(const QString& text) override;
    bool askConfirm(const QString& text) override;
    void showFinished(const QString& text) override;
    bool askFinished(const QString& text) override;
    void showException(const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace tvx
