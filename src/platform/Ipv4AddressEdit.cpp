#include "platform/Ipv4AddressEdit.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace tvx {

namespace {
constexpr int kFieldMax = 255;
constexpr int kFieldDigits = 3;

// Digits only, at most three, at most 255.
QString fieldText(const QString& text)
{
    QString digits;
    for (const QChar c : text) {
        if (c.isDigit() && c.unicode() < 128)
            digits.append(c);
    }
    digits.truncate(kFieldDigits);
    if (!digits.isEmpty() && digits.toInt() > kFieldMax)
        digits = QString::number(kFieldMax);
    return digits;
}
} // namespace

Ipv4AddressEdit::Ipv4AddressEdit(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ipAddressEdit"));
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QHBoxLayout(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    layout->setContentsMargins(frame + 1, frame, frame + 1, frame);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setFixedWidth(6);
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setFrame(false);
        // The fields lie on the panel this widget paints, enabled or not.
        QPalette see = field->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            see.setColor(group, QPalette::Base, Qt::transparent);
        field->setPalette(see);
        field->setAlignment(Qt::AlignCenter);
        // Room for a pasted dotted address; fieldEdited cuts it to three digits.
        field->setMaxLength(64);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this,
                [this, i](const QString& text) { fieldEdited(i, text); });
        connect(field, &QLineEdit::textChanged, this, &Ipv4AddressEdit::addressChanged);
        layout->addWidget(field, 1);
        fields_[i] = field;
    }
    setFocusProxy(fields_[0]);
}

QLineEdit* Ipv4AddressEdit::field(int index) const
{
    return fields_.at(static_cast<size_t>(index));
}

void Ipv4AddressEdit::setAddress(uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        fields_[i]->setText(QString::number((value >> (8 * (3 - i))) & 0xFF));
}

uint32_t Ipv4AddressEdit::address() const
{
    uint32_t value = 0;
    for (const QLineEdit* field : fields_) {
        const int part = std::min(field->text().toInt(), kFieldMax); // blank reads 0
        value = (value << 8) | static_cast<uint32_t>(part);
    }
    return value;
}

bool Ipv4AddressEdit::isBlank() const
{
    for (const QLineEdit* field : fields_) {
        if (!field->text().isEmpty())
            return false;
    }
    return true;
}

void Ipv4AddressEdit::clear()
{
    for (QLineEdit* field : fields_)
        field->clear();
}

void Ipv4AddressEdit::setFieldFocus(int index)
{
    if (index < 0 || index > 3)
        return;
    moveTo(index, true, false);
}

void Ipv4AddressEdit::moveTo(int index, bool selectAll, bool atEnd)
{
    QLineEdit* field = fields_[index];
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        field->selectAll();
    else
        field->setCursorPosition(atEnd ? field->text().size() : 0);
}

int Ipv4AddressEdit::indexOf(QObject* object) const
{
    for (int i = 0; i < 4; ++i) {
        if (fields_[i] == object)
            return i;
    }
    return -1;
}

void Ipv4AddressEdit::fillFrom(int index, const QString& dotted)
{
    const QStringList parts = dotted.split(QLatin1Char('.'));
    // A whole address fills all four fields wherever it was pasted.
    const int first = parts.size() >= 4 ? 0 : index;
    for (int i = 0; i < parts.size() && first + i < 4; ++i)
        fields_[first + i]->setText(fieldText(parts[i]));
    moveTo(std::min(first + static_cast<int>(parts.size()) - 1, 3), false, true);
}

void Ipv4AddressEdit::fieldEdited(int index, const QString& text)
{
    if (text.contains(QLatin1Char('.'))) {
        fillFrom(index, text);
        return;
    }
    QLineEdit* field = fields_[index];
    const QString cleaned = fieldText(text);
    if (cleaned != text) {
        const int cursor = std::min(field->cursorPosition(), static_cast<int>(cleaned.size()));
        field->setText(cleaned);
        field->setCursorPosition(cursor);
    }
    if (cleaned.size() == kFieldDigits && field->cursorPosition() == kFieldDigits && index < 3)
        moveTo(index + 1, true, false);
}

bool Ipv4AddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    const int index = indexOf(watched);
    if (index >= 0 && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        update(); // the panel shows whether a field has the focus
    if (index < 0 || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);

    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* field = fields_[index];
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();

    switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        if (index < 3 && !field->text().isEmpty())
            moveTo(index + 1, true, false);
        return true;
    case Qt::Key_Backspace:
        if (atStart && index > 0) {
            moveTo(index - 1, false, true);
            return true;
        }
        break;
    case Qt::Key_Left:
        if (atStart && index > 0) {
            moveTo(index - 1, false, true);
            return true;
        }
        break;
    case Qt::Key_Right:
        if (atEnd && index < 3) {
            moveTo(index + 1, false, false);
            return true;
        }
        break;
    default:
        // Letters and other printable characters have no place in a field;
        // shortcuts (paste among them) go through.
        if (!key->text().isEmpty() && key->text().at(0).isPrint() &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
            !key->text().at(0).isDigit())
            return true;
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Ipv4AddressEdit::paintEvent(QPaintEvent*)
{
    // One sunken line-edit panel behind all four fields, greyed when disabled.
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QWidget* focus = QApplication::focusWidget();
    if (focus && isAncestorOf(focus))
        option.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}

} // namespace tvx
