#pragma once

#include "handover/Prompter.h"

#include <QPointer>
#include <QWidget>

namespace tvx {

// The prompts as real message boxes, parented to the window that owns the
// prompt (Prompter::owner), else to the main window (not the prompter's own
// QObject parent: the program owns the prompter).
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* dialogParent = nullptr) : parent_(dialogParent) {}
    void setDialogParent(QWidget* dialogParent) { parent_ = dialogParent; }

    void showError(const QString& text) override;
    bool askConfirm(const QString& text) override;
    void showFinished(const QString& text) override;
    bool askFinished(const QString& text) override;
    void showException(const QString& text) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace tvx
