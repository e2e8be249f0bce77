#include "app/SerialPortDialog.h"

#include "protocol/SerialPortMapping.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace tvx {

TserialPortDlg::TserialPortDlg(QWidget* parent, const QString& deviceName, const QString& ip,
                               const QString& mac, bool hasPassword)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("serialPortDlg"));
    setWindowTitle(QStringLiteral("Serial port \u2014 %1  %2  %3").arg(deviceName, ip, mac));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* heading =
        new QLabel(QStringLiteral("The serial port of %1 (%2) as a terminal of this computer:")
                       .arg(deviceName.isEmpty() ? mac : deviceName, mac),
                   this);
    Memo_text = new QPlainTextEdit(this);
    Memo_text->setObjectName(QStringLiteral("Memo_text"));
    Memo_text->setReadOnly(true);
    Memo_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QString shown = serialPortMapping(deviceName, mac, hasPassword).text();
    Memo_text->setPlainText(shown);
    // Every line in view: a command cut at the edge is easily copied cut.
    const QFontMetrics metrics(Memo_text->font());
    int widest = 0;
    const QStringList lines = shown.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    Memo_text->setMinimumSize(widest + 4 * metrics.averageCharWidth()
                                  + Memo_text->verticalScrollBar()->sizeHint().width(),
                              metrics.lineSpacing() * (static_cast<int>(lines.size()) + 2));

    auto* Btn_copy = new QPushButton(QStringLiteral("Copy"), this);
    Btn_copy->setObjectName(QStringLiteral("Btn_copy"));
    connect(Btn_copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(text()); });
    auto* Btn_close = new QPushButton(QStringLiteral("Close"), this);
    Btn_close->setObjectName(QStringLiteral("Btn_close"));
    Btn_close->setDefault(true);
    connect(Btn_close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Btn_copy);
    buttons->addWidget(Btn_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(Memo_text, 1);
    layout->addLayout(buttons);
}

QString TserialPortDlg::text() const
{
    return Memo_text->toPlainText();
}

} // namespace tvx
