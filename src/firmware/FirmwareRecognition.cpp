#include "firmware/FirmwareRecognition.h"

#include "firmware/FirmwareImage.h"
#include "firmware/TftpWrite.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <sys/stat.h>

#include <QByteArray>

#include <array>
#include <utility>

namespace tvx {

namespace {
constexpr std::array<std::pair<FirmwareCheck, const char*>, 6> kMessages{{
    {FirmwareCheck::PathTooLong, "file path is too long (at most 255 characters)"},
    {FirmwareCheck::Missing, "file isn't exists"},
    {FirmwareCheck::OpenFailed, "open file failed"},
    {FirmwareCheck::ReadFailed, "read file failed"},
    {FirmwareCheck::Unrecognised, "file can't be recognised"},
    {FirmwareCheck::NameTooLong, "file name is too long (at most %1 characters)"},
}};

constexpr unsigned char kMagic[3] = {0x55, 0xAA, 0xF1};

int64_t fileSizeAt(const QByteArray& path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? st.st_size : 0;
}
} // namespace

FirmwareCheck recogniseFirmwareFile(const QByteArray& path)
{
    // A cut path could name another file, so it is refused, never shortened.
    if (static_cast<size_t>(path.size()) > kFirmwarePathRoom)
        return FirmwareCheck::PathTooLong;
    // One open judges and reads the same file; it never waits on a FIFO.
    struct stat st {};
    UniqueFd fd;
    switch (openRegularFile(path.constData(), fd, st)) {
    case FileOpen::Regular:
        break;
    case FileOpen::NotRegular:
        return FirmwareCheck::Missing;
    case FileOpen::Failed:
        return errno == ENOENT || errno == ENOTDIR ? FirmwareCheck::Missing
                                                   : FirmwareCheck::OpenFailed;
    }
    uint8_t head[3] = {};
    if (readFully(fd.get(), head, sizeof head) != 3)
        return FirmwareCheck::ReadFailed;
    if (head[0] != kMagic[0] || head[1] != kMagic[1] || head[2] != kMagic[2])
        return FirmwareCheck::Unrecognised;
    const std::string_view name = firmwareFileName(std::string_view(path.constData(), path.size()));
    if (writeRequestLength(name.size(), st.st_size) > kRequestRoom)
        return FirmwareCheck::NameTooLong;
    return FirmwareCheck::Accepted;
}

QString firmwareCheckMessage(FirmwareCheck check, const QByteArray& path)
{
    for (const auto& [code, text] : kMessages) {
        if (code != check)
            continue;
        QString message = QString::fromLatin1(text);
        if (check == FirmwareCheck::NameTooLong)
            message = message.arg(longestFileName(fileSizeAt(path)));
        return message;
    }
    return {};
}

} // namespace tvx
