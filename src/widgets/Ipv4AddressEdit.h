#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;

namespace tvx {

// An IPv4 address entry: four decimal fields of 0 to 255 separated by dots,
// in one sunken frame. The value is a 32-bit number whose high byte is the
// first field; a blank field reads as 0.
//
// It behaves as users of such controls expect: typing "." (or a space) or a
// third digit moves on to the next field (a dot right after a third digit
// does not move on a second time), a digit typed at the end of a full field
// goes on in the next one, Backspace at the start of a field goes back to the
// end of the previous one, the arrow keys cross between fields at their
// edges, a value above 255 becomes 255, and a field shows its value without
// leading zeros once it loses the focus. A whole dotted address typed in one
// go, starting in any field, or pasted into any field, fills all four fields
// with exactly that address.
class Ipv4AddressEdit : public QWidget {
    Q_OBJECT
public:
    explicit Ipv4AddressEdit(QWidget* parent = nullptr);

    void setAddress(uint32_t value);
    uint32_t address() const;
    // True when all four fields are blank.
    bool isBlank() const;
    void clear();
    // Puts the input focus into field `field` (0 to 3).
    void setFieldFocus(int field = 0);

    // Field `field` (0 to 3), for tests and for tab order.
    QLineEdit* field(int field) const;

signals:
    void addressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void fieldEdited(int index, const QString& text);
    void fillFrom(int index, const QString& dotted);
    void moveTo(int index, bool selectAll, bool atEnd);
    int indexOf(QObject* object) const;
    bool typedKey(int index, QLineEdit* field, const QString& text);
    void noteTyped(int index, QChar c);
    bool layOutTyped();
    void remember(QLineEdit* field);

    std::array<QLineEdit*, 4> fields_{};
    // What the user has typed since the last click, other key or focus from
    // outside, digits and dots as an address is written; the field it began
    // in and that field's text before the insertion point.
    QString typed_;
    int typedStart_ = -1;
    QString typedPrefix_;
    // The last move on was made by a third digit: a dot typed next is the one
    // the user would have typed anyway.
    bool movedOnByDigit_ = false;
    // The focused field as it was before the event now being handled, so that
    // a paste (key or menu) can be told from the text it lands in.
    struct Before {
        QLineEdit* field = nullptr;
        QString text;
        int from = 0;
        int length = 0;
    } before_;
};

} // namespace tvx
