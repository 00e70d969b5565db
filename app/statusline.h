#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The line below the controls. When nothing runs it names the working folder
// (or says that there is none); after a run it says what the run did, until
// the person's next input; during a run it says how to stop it, beside the
// button 停止. A text may name a folder in place of "%1": when the line is too
// short, the folder's path is shortened in its middle, so that the words
// around it stay; the tooltip has the whole text. At its right end it names
// the choices made in 选项 (while any is made), which a click opens.
class StatusLine : public QWidget
{
    Q_OBJECT

public:
    explicit StatusLine(QWidget *parent);

    void setIdle(const QString &text, const QString &path, bool warning);
    // More, when given, is shown only in the tooltip.
    void showNews(const QString &text, const QString &path = {}, const QString &more = {});
    void clearNews();
    void showRun(const QString &text, bool stoppable);
    void endRun();
    void showChoices(const QString &text);

    // What the line says now, whole.
    QString text() const;
    QString idle() const { return whole(m_idle); }

signals:
    void stopClicked();
    void choicesClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Text
    {
        QString text;
        QString path;
        QString more;
        bool isEmpty() const { return text.isEmpty(); }
    };
    static QString whole(const Text &text);
    const Text &shown() const;
    void refresh();

    QLabel *m_label;
    QLabel *m_choices;
    QPushButton *m_stop;
    Text m_idle, m_news, m_run;
    QString m_choiceText;
    bool m_warning = false;
};
