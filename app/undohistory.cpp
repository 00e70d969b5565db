#include "undohistory.h"

#include "ops/undo.h"

using namespace torvale;

UndoHistory::UndoHistory() : m_history(History::open(&m_problem)) {}

void UndoHistory::look_at(const QString &folderPath)
{
    m_folderPath = folderPath;
    m_last.reset();
    QString error;
    const std::shared_ptr<Folder> folder =
        m_history && !folderPath.isEmpty() ? Folder::open(folderPath, &error, false) : nullptr;
    if (!folder)
        return;
    m_last = run_to_undo(*m_history, *folder);
}

QString UndoHistory::question() const
{
    if (!m_last)
        return {};
    using Kind = Change::Kind;
    auto count = [this](Kind kind) {
        return int(std::count_if(m_last->changes.cbegin(), m_last->changes.cend(),
                                 [kind](const Change &c) { return c.kind == kind; }));
    };
    const Operation operation = operation_of(m_last->operation);
    QStringList steps;
    if (const int n = count(Kind::Renamed))
        steps << QStringLiteral("把 %1 个文件改回原来的名字").arg(n);
    if (const int n = count(Kind::Rewritten))
        steps << (operation == Operation::Convert ? QStringLiteral("把 %1 个被替换的网页恢复原样")
                                                  : QStringLiteral("把 %1 个文件恢复为替换前的内容"))
                     .arg(n);
    if (const int n = count(Kind::Created))
        steps << QStringLiteral("删除生成的 %1 个网页").arg(n);
    QString text = QStringLiteral("撤销 %1 的“%2”操作？\n\n文件夹：%3\n将%4。")
                       .arg(m_last->time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            operation_name(operation), m_folderPath, steps.join(QStringLiteral("，")));
    if (!m_last->parameters.isEmpty())
        text += QStringLiteral("\n（%1）").arg(m_last->parameters.join(QStringLiteral("；")));
    if (!m_last->undoable)
        text = QStringLiteral("上次的“%1”操作无法撤销：当时撤销历史中没有足够的空间保存文件原来的内容。")
                   .arg(operation_name(operation));
    return text;
}

Report UndoHistory::undo(const Progress &progress) const
{
    if (!m_history)
        return refused(QStringLiteral("无法使用撤销历史：%1").arg(m_problem));
    // The run the question named, and no other: one done or taken back
    // meanwhile (by torvale-cli, say) makes the undo refuse.
    return apply_undo(plan_undo(m_history, m_folderPath, m_last ? m_last->id : QByteArray()), progress);
}
