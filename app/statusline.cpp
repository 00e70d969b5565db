#include "statusline.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

StatusLine::StatusLine(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusLine"));
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("statusText"));
    // The line never widens the window: a long text is shortened instead.
    m_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_stop = new QPushButton(QStringLiteral("停止"), this);
    m_stop->setObjectName(QStringLiteral("stop"));
    // Hidden, the button keeps its room: the line, and the window above it,
    // keep their height when it shows.
    QSizePolicy keep = m_stop->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_stop->setSizePolicy(keep);
    m_stop->setVisible(false);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_stop->setEnabled(false);
        emit stopClicked();
    });
    m_choices = new QLabel(this);
    m_choices->setObjectName(QStringLiteral("choices"));
    m_choices->setStyleSheet(QStringLiteral("color: #0000C0;"));
    m_choices->setCursor(Qt::PointingHandCursor);
    m_choices->setVisible(false);
    m_choices->installEventFilter(this);
    m_label->installEventFilter(this); // its width follows the choices' text
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_choices);
    layout->addWidget(m_stop);
}

void StatusLine::setIdle(const QString &text, const QString &path, bool warning)
{
    m_idle = {text, path};
    m_warning = warning;
    refresh();
}

void StatusLine::showNews(const QString &text, const QString &path, const QString &more)
{
    m_news = {text, path, more};
    refresh();
}

void StatusLine::clearNews()
{
    if (m_news.isEmpty())
        return;
    m_news = {};
    refresh();
}

void StatusLine::showRun(const QString &text, bool stoppable)
{
    m_run = {text, {}, {}};
    m_news = {};
    m_stop->setVisible(stoppable);
    m_stop->setEnabled(stoppable);
    refresh();
}

void StatusLine::endRun()
{
    m_run = {};
    m_stop->setVisible(false);
    refresh();
}

void StatusLine::showChoices(const QString &text)
{
    m_choices->setToolTip(text + QStringLiteral("\n（点击可修改选项）"));
    m_choices->setVisible(!text.isEmpty());
    m_choiceText = text;
    refresh();
}

bool StatusLine::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_label && event->type() == QEvent::Resize)
        refresh();
    if (watched == m_choices && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        emit choicesClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString StatusLine::whole(const Text &text)
{
    return text.path.isEmpty() ? text.text : QString(text.text).replace(QLatin1String("%1"), text.path);
}

const StatusLine::Text &StatusLine::shown() const
{
    return !m_run.isEmpty() ? m_run : !m_news.isEmpty() ? m_news : m_idle;
}

QString StatusLine::text() const
{
    return whole(shown());
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    refresh();
}

void StatusLine::refresh()
{
    // The choices take at most half the line.
    m_choices->setText(m_choices->fontMetrics().elidedText(m_choiceText, Qt::ElideRight, width() / 2));
    const Text &line = shown();
    const QFontMetrics metrics = m_label->fontMetrics();
    const int width = m_label->width();
    QString text = whole(line);
    if (metrics.horizontalAdvance(text) > width && !line.path.isEmpty()) {
        const int room = width - metrics.horizontalAdvance(QString(line.text).remove(QLatin1String("%1")));
        text = QString(line.text).replace(QLatin1String("%1"),
                                          metrics.elidedText(line.path, Qt::ElideMiddle, std::max(room, 0)));
    }
    m_label->setText(metrics.elidedText(text, Qt::ElideRight, width));
    m_label->setToolTip(line.more.isEmpty() ? whole(line) : whole(line) + QLatin1Char('\n') + line.more);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, m_warning && &line == &m_idle
                                               ? QColor(0xC0, 0, 0)
                                               : this->palette().color(QPalette::WindowText));
    m_label->setPalette(palette);
}
