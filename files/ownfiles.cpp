#include "ownfiles.h"

#include "folder.h"

#include <QRandomGenerator>

#include <algorithm>

namespace torvale {

namespace {

const char *const kOwnPrefixes[] = {".torvale-write-", ".torvale-rename-"};
constexpr int kOwnDigits = 16;
const char kOwnSuffix[] = ".tmp";
const QByteArray kSwapPrefix = QByteArrayLiteral(".torvale-swap-");
constexpr int kSwapFields = 7;

bool is_lower_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

QByteArray own_file_name(OwnFile kind)
{
    return kOwnPrefixes[int(kind)] +
           QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(kOwnDigits, '0') +
           kOwnSuffix;
}

bool is_own_file_name(QByteArrayView name, OwnFile kind)
{
    const QByteArrayView prefix(kOwnPrefixes[int(kind)]);
    if (name.size() != prefix.size() + kOwnDigits + qsizetype(sizeof kOwnSuffix - 1) ||
        !name.startsWith(prefix) || !name.endsWith(kOwnSuffix))
        return false;
    const QByteArrayView digits = name.sliced(prefix.size(), kOwnDigits);
    return std::all_of(digits.begin(), digits.end(), is_lower_hex);
}

bool SwapName::Identity::matches(const Stamp &s) const
{
    return s.is_regular() && s.inode == inode && s.size == size && s.modifiedNs == modifiedNs;
}

SwapName SwapName::for_files(const Stamp &ours, const Stamp &planned)
{
    return {{ours.inode, ours.size, ours.modifiedNs},
            {planned.inode, planned.size, planned.modifiedNs},
            QRandomGenerator::global()->generate64()};
}

QByteArray SwapName::bytes() const
{
    QByteArray name = kSwapPrefix;
    for (const quint64 field : {ours.inode, quint64(ours.size), quint64(ours.modifiedNs), planned.inode,
                                quint64(planned.size), quint64(planned.modifiedNs), nonce})
        name += QByteArray::number(field, 16).rightJustified(kOwnDigits, '0');
    return name + kOwnSuffix;
}

std::optional<SwapName> SwapName::parse(QByteArrayView name)
{
    const qsizetype digits = kSwapFields * kOwnDigits;
    if (name.size() != kSwapPrefix.size() + digits + qsizetype(sizeof kOwnSuffix - 1) ||
        !name.startsWith(kSwapPrefix) || !name.endsWith(kOwnSuffix))
        return std::nullopt;
    quint64 f[kSwapFields];
    for (int i = 0; i < kSwapFields; ++i) {
        const QByteArrayView hex = name.sliced(kSwapPrefix.size() + i * kOwnDigits, kOwnDigits);
        if (!std::all_of(hex.begin(), hex.end(), is_lower_hex))
            return std::nullopt;
        f[i] = hex.toByteArray().toULongLong(nullptr, 16);
    }
    return SwapName{{f[0], qint64(f[1]), qint64(f[2])}, {f[3], qint64(f[4]), qint64(f[5])}, f[6]};
}

} // namespace torvale
