#pragma once

#include <QByteArray>
#include <QHashFunctions>

#include <functional>
#include <vector>

namespace torvale {

// Finds the row of a name among many without sorting them: an open-addressing
// table of row numbers hashed by the names' bytes (a million names take 8 MB,
// far less than a hash of the names themselves).
class NameIndex
{
public:
    using NameOf = std::function<const QByteArray &(qint32 row)>;

    NameIndex(qint32 expected, NameOf nameOf) : m_nameOf(std::move(nameOf))
    {
        size_t size = 16;
        while (size < size_t(expected) * 2)
            size *= 2;
        m_slots.assign(size, -1);
    }

    // Adds the row; returns the row already there under the same name, or -1.
    qint32 insert(qint32 row)
    {
        for (size_t i = slot_of(m_nameOf(row));; i = (i + 1) & (m_slots.size() - 1)) {
            if (m_slots[i] < 0) {
                m_slots[i] = row;
                return -1;
            }
            if (m_nameOf(m_slots[i]) == m_nameOf(row))
                return m_slots[i];
        }
    }

    qint32 find(const QByteArray &name) const
    {
        for (size_t i = slot_of(name);; i = (i + 1) & (m_slots.size() - 1)) {
            if (m_slots[i] < 0 || m_nameOf(m_slots[i]) == name)
                return m_slots[i];
        }
    }

private:
    size_t slot_of(const QByteArray &name) const { return qHash(name) & (m_slots.size() - 1); }

    NameOf m_nameOf;
    std::vector<qint32> m_slots;
};

} // namespace torvale
