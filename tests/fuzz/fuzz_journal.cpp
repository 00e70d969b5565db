// Properties of the journal reader, which reads what anyone may have written
// into a folder: it never crashes, accepts only names of this folder and
// temporary names of the program's own, and reads back what it writes.
#include "files/filename.h"
#include "files/folder.h"
#include "ops/journal.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<torvale::Parking> parked;
    QString why;
    if (!torvale::parse_journal(text, &parked, &why)) {
        if (why.isEmpty())
            std::abort();
        return 0;
    }
    for (const torvale::Parking &p : parked) {
        if (!torvale::is_own_file_name(p.temporary, torvale::OwnFile::Parking) ||
            !torvale::is_plain_name(p.from) || !torvale::is_plain_name(p.to) || p.from.startsWith('.') ||
            p.to.startsWith('.'))
            std::abort();
    }
    QList<torvale::Parking> again;
    if (!torvale::parse_journal(torvale::journal_text(parked), &again, &why) || again.size() != parked.size())
        std::abort();
    for (qsizetype i = 0; i < parked.size(); ++i) {
        if (again[i].temporary != parked[i].temporary || again[i].from != parked[i].from ||
            again[i].to != parked[i].to)
            std::abort();
    }
    return 0;
}
