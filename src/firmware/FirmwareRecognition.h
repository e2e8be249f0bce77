#pragma once

#include <QString>

#include <cstddef>

namespace tvx {

// What the firmware file dialogs make of a path before they accept it, checked
// in this order; the first failure ends the checks.
enum class FirmwareCheck {
    Accepted,
    PathTooLong, // longer than the request's firmware path can hold
    Missing, // nothing, or no regular file, at the path
    OpenFailed,
    ReadFailed, // fewer than the three recognition bytes
    Unrecognised, // not 0x55 0xAA 0xF1
    NameTooLong, // the write request could not carry the file name
};

constexpr size_t kFirmwarePathRoom = 255; // characters of DeviceRequest::firmwarePath

// `path` is the file system's byte form of the path (QFile::encodeName).
FirmwareCheck recogniseFirmwareFile(const QByteArray& path);

// The message shown for a refusal; empty for Accepted.
QString firmwareCheckMessage(FirmwareCheck check, const QByteArray& path);

} // namespace tvx
