#include "rename.h"

#include "testhook.h"

#include "files/filesystem.h"
#include "files/listing.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <QUrl>

#include <cmath>

namespace torvale {

namespace {

bool is_blank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

bool is_ascii_digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The longest name in bytes that the file systems we run on allow.
constexpr int kMaxNameBytes = 255;

QString trim_spaces(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// A character that may not stand in a file name here, or that would put the
// file into another directory.
bool is_forbidden_in_name(QChar c)
{
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
        return true;
#ifdef Q_OS_WIN
    return QStringLiteral(":*?\"<>|").contains(c);
#else
    return false;
#endif
}

} // namespace

double parse_start_number(const QString &text)
{
    const QString t = trim_spaces(text);
    const qsizetype n = t.size();
    qsizetype i = 0;
    auto skipBlanks = [&] {
        while (i < n && is_blank(t[i]))
            ++i;
    };
    QString number;
    bool anyDigit = false;
    auto readDigits = [&](QString &into) {
        bool any = false;
        for (;;) {
            skipBlanks();
            if (i < n && is_ascii_digit(t[i])) {
                into += t[i++];
                any = true;
            } else {
                return any;
            }
        }
    };

    skipBlanks();
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        number += t[i++];
    anyDigit = readDigits(number);
    skipBlanks();
    if (i < n && t[i] == QLatin1Char('.')) {
        number += t[i++];
        anyDigit = readDigits(number) || anyDigit;
    }
    if (!anyDigit)
        return 0;
    skipBlanks();
    if (i < n && (t[i] == QLatin1Char('E') || t[i] == QLatin1Char('e'))) {
        QString exponent = QStringLiteral("e");
        ++i;
        skipBlanks();
        if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            exponent += t[i++];
        if (readDigits(exponent))
            number += exponent;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    if (!ok) {
        // Too large for a double: an infinity that the plan refuses.
        const bool negative = number.startsWith(QLatin1Char('-'));
        const bool tiny = number.contains(QLatin1String("e-"));
        if (tiny)
            return 0;
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return value;
}

QString number_text(double number)
{
    if (number == 0)
        return QStringLiteral("0"); // also for -0
    if (number == std::floor(number))
        return QString::number(number, 'f', 0);
    const QString g = QString::number(number, 'g', 15);
    const qsizetype e = g.indexOf(QLatin1Char('e'));
    if (e < 0)
        return g;
    // Spell out the exponent: move the decimal point.
    QString mantissa = g.left(e);
    const int exponent = g.mid(e + 1).toInt();
    const bool negative = mantissa.startsWith(QLatin1Char('-'));
    if (negative)
        mantissa.remove(0, 1);
    qsizetype point = mantissa.indexOf(QLatin1Char('.'));
    if (point < 0)
        point = mantissa.size();
    QString digits = mantissa;
    digits.remove(QLatin1Char('.'));
    qsizetype newPoint = point + exponent;
    if (newPoint <= 0) {
        digits.prepend(QString(-newPoint, QLatin1Char('0')));
        newPoint = 0;
    } else if (newPoint > digits.size()) {
        digits.append(QString(newPoint - digits.size(), QLatin1Char('0')));
    }
    QString result = digits.left(newPoint);
    QString fraction = digits.mid(newPoint);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (result.isEmpty())
        result = QStringLiteral("0");
    if (!fraction.isEmpty())
        result += QLatin1Char('.') + fraction;
    return negative ? QLatin1Char('-') + result : result;
}

QString width_message()
{
    return QStringLiteral("整合数小于序数的位数，请返回选择一个较大的整合数！");
}

RenamePlan plan_rename(const RenameParams &params)
{
    RenamePlan plan;
    const QString dir = params.dir;
    const Listing listing = list_working_files(dir);
    if (!listing.ok) {
        plan.refusal = listing.error;
        return plan;
    }
    const QString prefix = trim_spaces(params.prefix);
    for (QChar c : prefix) {
        if (is_forbidden_in_name(c)) {
            plan.refusal = QStringLiteral("文件名前缀“%1”中含有文件名不能使用的字符（如“/”或“\\”），没有文件被更名。请修改前缀！")
                               .arg(prefix);
            return plan;
        }
    }
#ifndef Q_OS_WIN
    if (prefix.startsWith(QLatin1Char('.'))) {
        plan.refusal = QStringLiteral("文件名前缀不能以“.”开头，否则更名后的文件会成为隐藏文件。没有文件被更名。");
        return plan;
    }
#endif
    double Counter = parse_start_number(params.start);
    if (!std::isfinite(Counter)) {
        plan.refusal = QStringLiteral("起始序数“%1”太大，没有文件被更名。").arg(trim_spaces(params.start));
        return plan;
    }


    // Everything else in the directory: hidden files, folders, links. A new
    // name may not take the place of any of them.
    const QSet<QString> batch(listing.names.cbegin(), listing.names.cend());
    const QSet<QString> others(listing.others.cbegin(), listing.others.cend());
    QSet<QString> othersFolded;
    for (const QString &name : listing.others)
        othersFolded.insert(name.toCaseFolded());

    auto refuse = [&plan](int row, const QString &why) {
        if (plan.refusal.isEmpty()) {
            plan.refusal = why;
            plan.problemRow = row;
        }
    };

    QHash<QString, int> taken; // new name -> row
    plan.moves.reserve(listing.names.size());
    for (const QString &CurrentName : listing.names) {
        const int row = int(plan.moves.size());
        const QString WorkText = extension_of(CurrentName);
        const QString number = number_text(Counter);
        Counter = Counter + 1;
        QString TargetPath;
        if (params.width > 0 && number.size() > params.width) {
            TargetPath = prefix + number + QLatin1Char('.') + WorkText;
            refuse(row, width_message());
        } else {
            const qsizetype zeros = params.width > 0 ? params.width - number.size() : 0;
            TargetPath = prefix + QString(zeros, QLatin1Char('0')) + number + QLatin1Char('.') + WorkText;
        }
        plan.moves.append({CurrentName, TargetPath});

        if (QFile::encodeName(TargetPath).size() > kMaxNameBytes) {
            refuse(row, QStringLiteral("新文件名“%1”太长，超出了文件系统允许的长度，没有文件被更名。").arg(TargetPath));
        } else if (others.contains(TargetPath) ||
                   (othersFolded.contains(TargetPath.toCaseFolded()) && !batch.contains(TargetPath) &&
                    QFileInfo::exists(QDir(dir).filePath(TargetPath)))) {
            // The second test catches file systems that ignore letter case.
            refuse(row, QStringLiteral("新文件名“%1”已被文件夹中不参与更名的同名项目（隐藏文件、文件夹或链接）占用，没有文件被更名。")
                            .arg(TargetPath));
        } else if (const auto clash = taken.constFind(TargetPath); clash != taken.constEnd()) {
            refuse(row, QStringLiteral("文件“%1”和“%2”会得到同一个新文件名“%3”，没有文件被更名。")
                            .arg(plan.moves[*clash].from, CurrentName, TargetPath));
        } else {
            taken.insert(TargetPath, row);
        }
    }
    return plan;
}

namespace {

// Files that must wait for their new name (it is still the old name of a
// later file) wait under a hidden temporary name. A list of them is written
// beside them first, so that a run that is killed part-way can be mended by
// the next one: every waiting file goes back to its old name, or on to its new.
const QLatin1String kJournalName(".torvale-rename.journal");
const QLatin1String kTemporaryPrefix(".torvale-rename-");

QString temporary_name(int serial)
{
    return kTemporaryPrefix + QStringLiteral("%1-%2.tmp").arg(QCoreApplication::applicationPid()).arg(serial);
}

struct Parking
{
    QString temporary;
    QString from;
    QString to;
};

QByteArray journal_text(const QList<Parking> &parked)
{
    QByteArray text;
    for (const Parking &p : parked) {
        text += QUrl::toPercentEncoding(p.temporary) + ' ' + QUrl::toPercentEncoding(p.from) + ' ' +
                QUrl::toPercentEncoding(p.to) + '\n';
    }
    return text;
}

QList<Parking> read_journal(const QByteArray &text)
{
    QList<Parking> parked;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3) {
            parked.append({QUrl::fromPercentEncoding(fields[0]), QUrl::fromPercentEncoding(fields[1]),
                           QUrl::fromPercentEncoding(fields[2])});
        }
    }
    return parked;
}

} // namespace

RenameRecovery recover_interrupted_rename(const QString &dirPath)
{
    RenameRecovery recovery;
    const QDir dir(dirPath);
    const QString journalPath = dir.filePath(kJournalName);
    QByteArray text;
    QString error;
    if (QFileInfo::exists(journalPath) && read_file(journalPath, &text, &error)) {
        const Directory handle(dirPath);
        bool allDone = true;
        for (const Parking &p : read_journal(text)) {
            if (!QFileInfo::exists(dir.filePath(p.temporary)) && !QFileInfo(dir.filePath(p.temporary)).isSymLink())
                continue;
            if (handle.rename_no_replace(p.temporary, p.from, &error) ||
                handle.rename_no_replace(p.temporary, p.to, &error)) {
                ++recovery.restored;
            } else {
                allDone = false;
            }
        }
        if (allDone)
            QFile::remove(journalPath);
    }
    const QStringList left = dir.entryList({kTemporaryPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    recovery.leftOver = left;
    return recovery;
}

Report run_rename(const RenameParams &params, const Progress &progress)
{
    Report report;
    const RenameRecovery recovery = recover_interrupted_rename(params.dir);
    if (!recovery.leftOver.isEmpty()) {
        report.status = Report::Status::Refused;
        report.message = QStringLiteral("文件夹中有上次被中断的更名留下的临时文件，未能自动恢复：\n%1\n"
                                        "请先把它们改回原来的名字，没有文件被更名。")
                             .arg(recovery.leftOver.join(QLatin1Char('\n')));
        return report;
    }
    if (recovery.restored > 0) {
        report.notes << QStringLiteral("上次被中断的更名留下的 %1 个文件已恢复为正常的文件名。").arg(recovery.restored);
    }
    const RenamePlan plan = plan_rename(params);
    report.files = int(plan.moves.size());
    if (!plan.ok()) {
        report.status = Report::Status::Refused;
        report.message = plan.refusal;
        return report;
    }
    after_planning(params.dir);
    const int maximum = report.files + 1;
    if (progress)
        progress(0, maximum);
    int done = 0;
    execute_moves(params.dir, plan.moves, report, [&] {
        if (progress)
            progress(++done, maximum);
    });
    if (report.status == Report::Status::Done && params.keepChanges) {
        const Directory folder(params.dir);
        for (const RenameMove &m : plan.moves) {
            if (m.from != m.to)
                report.changes.append({Change::Kind::Renamed, m.to, m.from, {}, folder.fingerprint(m.to)});
        }
    }
    return report;
}

void execute_moves(const QString &dirPath, const QList<RenameMove> &moves, Report &report,
                   const std::function<void()> &stepDone)
{
    const Directory dir(dirPath);
    // A file whose new name is still held by a file of the batch that has not
    // moved yet waits under a temporary name; decided before the first rename.
    QSet<QString> pending;
    for (const RenameMove &move : moves) {
        if (move.from != move.to)
            pending.insert(move.from);
    }
    QList<Parking> parked;
    QSet<int> parkedRows;
    for (int row = 0; row < moves.size(); ++row) {
        const RenameMove &m = moves[row];
        if (m.from == m.to)
            continue;
        pending.remove(m.from);
        if (pending.contains(m.to)) {
            parked.append({temporary_name(int(parked.size()) + 1), m.from, m.to});
            parkedRows.insert(row);
        }
    }
    const QString journalPath = QDir(dirPath).filePath(kJournalName);
    if (!parked.isEmpty()) {
        QString error;
        if (!save_file(journalPath, journal_text(parked), &error)) {
            report.status = Report::Status::Refused;
            report.message = QStringLiteral("无法在文件夹中记下更名的步骤（%1），没有文件被更名。").arg(error);
            return;
        }
    }

    struct Step
    {
        QString from;
        QString to;
    };
    QList<Step> journal; // what was done, to put back on failure
    QString failedName, failure;
    auto move = [&](const QString &from, const QString &to, const QString &shownName) {
        QString error;
        if (!dir.rename_no_replace(from, to, &error)) {
            failedName = shownName;
            failure = error;
            return false;
        }
        journal.append({from, to});
        return true;
    };

    qsizetype nextParking = 0;
    for (int row = 0; row < moves.size() && failure.isEmpty(); ++row) {
        const RenameMove &m = moves[row];
        if (parkedRows.contains(row)) {
            move(m.from, parked[nextParking++].temporary, m.from);
        } else if (m.from != m.to && move(m.from, m.to, m.from)) {
            ++report.changed;
        }
        if (stepDone && failure.isEmpty())
            stepDone();
    }
    for (qsizetype i = 0; i < parked.size() && failure.isEmpty(); ++i) {
        if (move(parked[i].temporary, parked[i].to, parked[i].from))
            ++report.changed;
    }
    if (failure.isEmpty()) {
        if (!parked.isEmpty())
            QFile::remove(journalPath);
        return;
    }

    // Put everything back, newest first.
    QStringList notRestored;
    for (qsizetype i = journal.size() - 1; i >= 0; --i) {
        QString error;
        if (!dir.rename_no_replace(journal[i].to, journal[i].from, &error))
            notRestored << QStringLiteral("%1 → %2：%3").arg(journal[i].to, journal[i].from, error);
    }
    if (!parked.isEmpty() && notRestored.isEmpty())
        QFile::remove(journalPath);
    report.status = Report::Status::Failed;
    report.changed = 0;
    report.problems.append({failedName, failure});
    if (notRestored.isEmpty()) {
        report.message = QStringLiteral("文件“%1”更名失败：%2。已更名的文件都已恢复原名，文件夹保持原样。")
                             .arg(failedName, failure);
    } else {
        report.message = QStringLiteral("文件“%1”更名失败：%2。以下文件未能恢复原名：\n%3")
                             .arg(failedName, failure, notRestored.join(QLatin1Char('\n')));
    }
}


} // namespace torvale
