#pragma once

#include <QWidget>

#include <cstdint>

namespace tvx {

// An IPv4 address entry: four decimal fields of 0 to 255 separated by dots.
// The value is a 32-bit number whose high byte is the first field; a blank
// field reads as 0.
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

signals:
    void addressChanged();
};

} // namespace tvx
