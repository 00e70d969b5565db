#include "messages.h"

#include <QMessageBox>
#include <QMouseEvent>

using namespace torvale;

QString status_caption(Operation operation)
{
    switch (operation) {
    case Operation::Rename:
        return QStringLiteral("正在更名");
    case Operation::Convert:
        return QStringLiteral("正在转换");
    case Operation::Replace:
        return QStringLiteral("正在替换");
    case Operation::Undo:
        break;
    }
    return QStringLiteral("正在撤销");
}

void show_report(QWidget *parent, Operation operation, const Report &report)
{
    const ReportText text = describe_report(operation, report);
    QString message, details;
    if (report.status != Report::Status::Done) {
        message = report.message;
    } else if (!text.problems.isEmpty()) {
        // The first files in the box, the whole list behind "Show Details".
        constexpr int kShown = 15;
        QStringList lines = text.problems.mid(0, kShown);
        if (text.problems.size() > kShown) {
            lines << QStringLiteral("……等共 %1 个文件").arg(text.problems.size());
            details = text.problems.join(QLatin1Char('\n'));
        }
        message = text.heading + QStringLiteral("\n\n") + lines.join(QLatin1Char('\n'));
        if (!report.notes.isEmpty())
            message = report.notes.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + message;
    } else if (!report.notes.isEmpty()) {
        QMessageBox::information(parent, QStringLiteral("提示"), report.notes.join(QLatin1Char('\n')));
        return;
    } else {
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("出错"), message, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("message"));
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

namespace {

class ClickFilter : public QObject
{
public:
    ClickFilter(QObject *parent, std::function<void()> onClick)
        : QObject(parent), m_onClick(std::move(onClick))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_onClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

} // namespace

void on_click(QWidget *widget, std::function<void()> onClick)
{
    widget->installEventFilter(new ClickFilter(widget, std::move(onClick)));
}
