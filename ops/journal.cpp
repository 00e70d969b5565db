#include "journal.h"

#include "files/filename.h"
#include "files/folder.h"

#include <QSet>

namespace torvale {

const QByteArray kJournalName = QByteArrayLiteral(".torvale-rename.journal");

QByteArray journal_text(const QList<Parking> &parked)
{
    QByteArray text;
    for (const Parking &p : parked)
        text += p.temporary.toPercentEncoding() + ' ' + p.from.toPercentEncoding() + ' ' +
                p.to.toPercentEncoding() + '\n';
    return text;
}

bool parse_journal(QByteArrayView text, QList<Parking> *parked, QString *why)
{
    QSet<QByteArray> temporaries, froms, tos;
    qsizetype lineNumber = 0;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        ++lineNumber;
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        auto bad = [&](const char *what) {
            *why = QStringLiteral("第 %1 行%2").arg(lineNumber).arg(QString::fromUtf8(what));
            return false;
        };
        if (fields.size() != 3)
            return bad("格式不对");
        const Parking p{QByteArray::fromPercentEncoding(fields[0]),
                        QByteArray::fromPercentEncoding(fields[1]),
                        QByteArray::fromPercentEncoding(fields[2])};
        if (!is_own_file_name(p.temporary, OwnFile::Parking))
            return bad("的临时文件名不是本程序的");
        for (const QByteArray &name : {p.from, p.to}) {
            if (!is_plain_name(name) || name.startsWith('.'))
                return bad("含有不属于这个文件夹的文件名");
        }
        if (temporaries.contains(p.temporary) || froms.contains(p.from) || tos.contains(p.to))
            return bad("与前面的行重复");
        temporaries << p.temporary;
        froms << p.from;
        tos << p.to;
        parked->append(p);
    }
    return true;
}

} // namespace torvale
