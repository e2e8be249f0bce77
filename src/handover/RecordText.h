#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tvx {

// A record field's text up to its terminating zero, never past its room.
template <size_t N>
QByteArray fieldBytes(const char (&field)[N])
{
    return QByteArray(field, static_cast<qsizetype>(strnlen(field, N)));
}

// The module's bytes as the window shows them: one character per byte.
template <size_t N>
QString fieldText(const char (&field)[N])
{
    return QString::fromLatin1(fieldBytes(field));
}

// The character at `index` of a field's text, or '\0' past its end.
template <size_t N>
char fieldChar(const char (&field)[N], size_t index)
{
    return index < strnlen(field, N) ? field[index] : '\0';
}

// Stores `text` in a field of `room` bytes: at most room - 1 bytes of it, the
// rest zero-filled, so the field always ends in a zero and nothing is ever
// written beyond it. What does not fit is cut.
inline void storeField(char* field, size_t room, const QByteArray& text)
{
    std::memset(field, 0, room);
    std::memcpy(field, text.constData(),
                std::min<size_t>(static_cast<size_t>(text.size()), room - 1));
}

template <size_t N>
void storeField(char (&field)[N], const QByteArray& text)
{
    storeField(field, N, text);
}

template <size_t N>
void storeField(char (&field)[N], const char* text)
{
    storeField(field, N, QByteArray(text));
}

} // namespace tvx
