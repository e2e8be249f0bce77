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
// third digit moves on to the next field, Backspace at the start of a field
// goes back to the end of the previous one, the arrow keys cross between
// fields at their edges, a value above 255 becomes 255, and pasting a dotted
// address into any field fills all four.
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

    std::array<QLineEdit*, 4> fields_{};
};

} // namespace tvx
