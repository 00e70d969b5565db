#include "messages.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include <memory>

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

namespace {

// The text as it fits a message box on the screen. A box is at most half
// the screen wide (Qt's rule); each line gets at most three lines of that
// width, and all of them at most half the screen's height.
QString fit_on_screen(const QString &text, const QFontMetrics &metrics, const QScreen *screen)
{
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const int width = std::max(200, std::min(area.width() / 2, 500) - 100);
    int room = area.height() / 2;
    QStringList fitted;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString shown = metrics.elidedText(line, Qt::ElideMiddle, 3 * width);
        const int height =
            metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWrapAnywhere, shown).height();
        if (height > room) {
            fitted << QStringLiteral("……");
            break;
        }
        room -= height;
        fitted << shown;
    }
    return fitted.join(QLatin1Char('\n'));
}

QMessageBox *make_box(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                      QString details)
{
    auto *box = new QMessageBox(icon, title, QString(), QMessageBox::NoButton, parent);
    box->setObjectName(QStringLiteral("message"));
    const QString fitted =
        fit_on_screen(text, box->fontMetrics(), parent ? parent->screen() : QGuiApplication::primaryScreen());
    box->setText(fitted);
    if (details.isEmpty() && fitted != text)
        details = text;
    if (!details.isEmpty())
        box->setDetailedText(details);
    return box;
}

} // namespace

void show_message(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                  const QString &details)
{
    std::unique_ptr<QMessageBox> box(make_box(parent, icon, title, text, details));
    box->addButton(QMessageBox::Ok);
    box->exec();
}

bool ask(QWidget *parent, const QString &title, const QString &text, QMessageBox::StandardButton byDefault)
{
    std::unique_ptr<QMessageBox> box(make_box(parent, QMessageBox::Question, title, text, {}));
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(byDefault);
    box->setEscapeButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

QString show_report(QWidget *parent, Operation operation, const QString &folder, const Report &report)
{
    const ReportText text = describe_report(operation, report);
    const QString news =
        report.status == Report::Status::Refused ? QStringLiteral("没有改动任何文件") : text.summary;
    QStringList parts;
    QString details;
    if (report.status != Report::Status::Done)
        parts << report.message;
    if (!report.notes.isEmpty())
        parts << report.notes.join(QLatin1Char('\n'));
    if (!text.problems.isEmpty()) {
        // The first files in the box, the whole list behind "Show Details".
        constexpr int kShown = 15;
        QStringList lines = text.problems.mid(0, kShown);
        if (text.problems.size() > kShown) {
            lines << QStringLiteral("……等共 %1 个文件").arg(text.problems.size());
            details = text.problems.join(QLatin1Char('\n'));
        }
        parts << text.heading + QStringLiteral("\n\n") + lines.join(QLatin1Char('\n'));
    }
    if (parts.isEmpty())
        return news;
    const bool calm = text.problems.isEmpty() &&
                      (report.status == Report::Status::Done || report.status == Report::Status::Stopped);
    show_message(parent, calm ? QMessageBox::Information : QMessageBox::Warning,
                 calm ? QStringLiteral("提示") : QStringLiteral("出错"),
                 folder + QStringLiteral("\n\n") + parts.join(QStringLiteral("\n\n")), details);
    return news;
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
