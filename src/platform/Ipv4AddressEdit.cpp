// Placeholder until the address entry lands.
#include "platform/Ipv4AddressEdit.h"

namespace tvx {

Ipv4AddressEdit::Ipv4AddressEdit(QWidget* parent) : QWidget(parent) {}

void Ipv4AddressEdit::setAddress(uint32_t) {}

uint32_t Ipv4AddressEdit::address() const
{
    return 0;
}

bool Ipv4AddressEdit::isBlank() const
{
    return true;
}

void Ipv4AddressEdit::clear() {}

void Ipv4AddressEdit::setFieldFocus(int) {}

} // namespace tvx
