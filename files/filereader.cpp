#include "filereader.h"

#include "sysio.h"

#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace torvale {

FileReader::~FileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileReader::open(const Folder &folder, const QByteArray &name, const Stamp *expected, QString *error)
{
    struct stat st;
    m_fd = sysio::open_regular(folder.handle(), name, O_RDONLY, &st);
    if (m_fd < 0) {
        *error = errno == ENODEV || errno == ELOOP ? QStringLiteral("不是普通文件") : describe_errno(errno);
        return false;
    }
    m_stamp = sysio::stamp_of(st);
    if (expected && !m_stamp.same_file(*expected)) {
        *error = kChangedSincePlan;
        return false;
    }
    return true;
}

qsizetype FileReader::read_some(QByteArray &into, qsizetype most, QString *error)
{
    const qsizetype start = into.size();
    into.resize(start + most);
    const ssize_t n = sysio::retry([&] { return ::read(m_fd, into.data() + start, size_t(most)); });
    if (n < 0) {
        *error = describe_errno(errno);
        into.resize(start);
        return -1;
    }
    into.resize(start + n);
    return n;
}

bool FileReader::read_rest(QByteArray &into, QString *error)
{
    if (m_stamp.size >= qint64(std::numeric_limits<qsizetype>::max() / 2)) {
        *error = QStringLiteral("文件太大");
        return false;
    }
    into.reserve(into.size() + qsizetype(m_stamp.size) + 1);
    // A file can grow or shrink while it is read: read until the end.
    for (;;) {
        const qsizetype want = qMax<qsizetype>(65536, qsizetype(m_stamp.size) + 1 - into.size());
        const qsizetype n = read_some(into, want, error);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
    }
}

bool FileReader::unchanged(QString *error) const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        *error = describe_errno(errno);
        return false;
    }
    const Stamp now = sysio::stamp_of(st);
    if (now.same_file(m_stamp) && now.changedNs == m_stamp.changedNs)
        return true;
    *error = kChangedDuringRun;
    return false;
}

void FileReader::note_own_change()
{
    struct stat st;
    if (::fstat(m_fd, &st) == 0)
        m_stamp.changedNs = sysio::stamp_of(st).changedNs;
}

bool FileReader::rewind(QString *error)
{
    if (::lseek(m_fd, 0, SEEK_SET) == 0)
        return true;
    if (error)
        *error = describe_errno(errno);
    return false;
}

bool read_file(const Folder &folder, const QByteArray &name, const Stamp *expected, QByteArray *bytes,
               QString *error)
{
    FileReader reader;
    bytes->clear();
    return reader.open(folder, name, expected, error) && reader.read_rest(*bytes, error);
}

} // namespace torvale
