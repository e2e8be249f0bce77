#include "widgets/Ipv4AddressEdit.h"

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
    typed_.clear();
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
    typed_.clear();
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
    typed_.clear();
    const QStringList parts = dotted.split(QLatin1Char('.'));
    // A whole address fills all four fields wherever it was pasted.
    const int first = parts.size() >= 4 ? 0 : index;
    for (int i = 0; i < parts.size() && first + i < 4; ++i)
        fields_[first + i]->setText(fieldText(parts[i]));
    moveTo(std::min(first + static_cast<int>(parts.size()) - 1, 3), false, true);
}

void Ipv4AddressEdit::remember(QLineEdit* field)
{
    before_.field = field;
    before_.text = field->text();
    before_.from = field->hasSelectedText() ? field->selectionStart() : field->cursorPosition();
    before_.length = field->hasSelectedText() ? static_cast<int>(field->selectedText().size()) : 0;
}

void Ipv4AddressEdit::noteTyped(int index, QChar c)
{
    if (typed_.isEmpty()) {
        if (c == QLatin1Char('.'))
            return;
        // Typed on from what the field held only when nothing follows the
        // insertion point; otherwise the typing replaces the field.
        const QLineEdit* field = fields_[index];
        const int from =
            field->hasSelectedText() ? field->selectionStart() : field->cursorPosition();
        const int to =
            field->hasSelectedText() ? from + static_cast<int>(field->selectedText().size()) : from;
        typedStart_ = index;
        typedPrefix_ = to == field->text().size() ? field->text().left(from) : QString();
    } else if (c == QLatin1Char('.') && typed_.endsWith(QLatin1Char('.'))) {
        return;
    }
    typed_.append(c);
}

bool Ipv4AddressEdit::layOutTyped()
{
    // Three dots typed in one go: the user is writing a whole address, and
    // it is shown exactly, whichever field the typing began in and whatever
    // the fields held before.
    if (typed_.count(QLatin1Char('.')) != 3)
        return false;
    QStringList parts = typed_.split(QLatin1Char('.'));
    if (typedStart_ == 0 && !typedPrefix_.isEmpty()
        && typedPrefix_.size() + parts[0].size() <= kFieldDigits)
        parts[0].prepend(typedPrefix_);
    for (int i = 0; i < 4; ++i)
        fields_[i]->setText(fieldText(parts[i]));
    moveTo(3, false, true);
    return true;
}

void Ipv4AddressEdit::fieldEdited(int index, const QString& text)
{
    QLineEdit* field = fields_[index];
    if (text.contains(QLatin1Char('.'))) {
        // Pasted or dropped: only what came in counts, not the digits the
        // field held around it.
        QString inserted = text;
        if (before_.field == field) {
            const QString head = before_.text.left(before_.from);
            const QString tail = before_.text.mid(before_.from + before_.length);
            if (text.size() >= head.size() + tail.size() && text.startsWith(head)
                && text.endsWith(tail))
                inserted = text.mid(head.size(), text.size() - head.size() - tail.size());
        }
        fillFrom(index, inserted.split(QLatin1Char('.')).size() >= 4 ? inserted : text);
        return;
    }
    if (layOutTyped())
        return;
    const QString cleaned = fieldText(text);
    if (cleaned != text) {
        const int cursor = std::min(field->cursorPosition(), static_cast<int>(cleaned.size()));
        field->setText(cleaned);
        field->setCursorPosition(cursor);
    }
    if (cleaned.size() == kFieldDigits && field->cursorPosition() == kFieldDigits && index < 3) {
        moveTo(index + 1, true, false);
        movedOnByDigit_ = true;
    }
}

bool Ipv4AddressEdit::typedKey(int index, QLineEdit* field, const QString& text)
{
    const QChar c = text.at(0);
    noteTyped(index, c);
    // A digit at the end of a full field begins the next one.
    if (index < 3 && !field->hasSelectedText() && field->text().size() >= kFieldDigits
        && field->cursorPosition() == field->text().size()) {
        moveTo(index + 1, true, false);
        fields_[index + 1]->insert(text);
        return true;
    }
    return false;
}

bool Ipv4AddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    const int index = indexOf(watched);
    if (index < 0)
        return QWidget::eventFilter(watched, event);
    QLineEdit* field = fields_[index];
    switch (event->type()) {
    case QEvent::FocusIn:
        update(); // the panel shows whether a field has the focus
        break;
    case QEvent::FocusOut: {
        update();
        // 050 was typed, 50 is what the field holds.
        const QString text = field->text();
        if (!text.isEmpty()) {
            const QString plain = QString::number(text.toInt());
            if (plain != text)
                field->setText(plain);
        }
        const QWidget* focus = QApplication::focusWidget();
        if (!focus || !isAncestorOf(focus))
            typed_.clear();
        break;
    }
    case QEvent::MouseButtonPress:
        typed_.clear();
        remember(field);
        break;
    case QEvent::ContextMenu:
        remember(field);
        break;
    default:
        break;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);

    auto* key = static_cast<QKeyEvent*>(event);
    remember(field);
    const bool movedOnByDigit = movedOnByDigit_;
    movedOnByDigit_ = false;
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
    const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));

    switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
        if (!plain)
            break;
        noteTyped(index, QLatin1Char('.'));
        if (layOutTyped() || movedOnByDigit)
            return true;
        if (index < 3 && !field->text().isEmpty())
            moveTo(index + 1, true, false);
        return true;
    case Qt::Key_Backspace:
        typed_.clear();
        if (atStart && index > 0) {
            moveTo(index - 1, false, true);
            return true;
        }
        break;
    case Qt::Key_Left:
        typed_.clear();
        if (atStart && index > 0) {
            moveTo(index - 1, false, true);
            return true;
        }
        break;
    case Qt::Key_Right:
        typed_.clear();
        if (atEnd && index < 3) {
            moveTo(index + 1, false, false);
            return true;
        }
        break;
    default: {
        const QString text = key->text();
        if (plain && !text.isEmpty() && text.at(0).isDigit() && text.at(0).unicode() < 128)
            return typedKey(index, field, text.left(1));
        typed_.clear();
        // Letters and other printable characters have no place in a field;
        // shortcuts (paste among them) go through.
        if (plain && !text.isEmpty() && text.at(0).isPrint())
            return true;
        break;
    }
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
