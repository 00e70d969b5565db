#pragma once

#include "files/namefilter.h"
#include "ops/pattern.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

// The choices that change what the operations take: which files of the
// folder (for all three), and how find and replace reads its search text.
// They are kept between sessions.
struct RunChoices
{
    torvale::SearchOptions search;
    QString include; // file name patterns, as typed: "*.jpg;*.png"
    QString exclude;

    torvale::NameFilter filter() const;
    // The choices in one short line, "选项：仅 *.jpg；忽略大小写"; empty when none is made.
    QString line() const;

    static RunChoices load();
    void save() const;
};

// The patterns of a field: separated by ";" (or "；"), without the spaces around them.
QStringList patterns_of(const QString &text);

// 文件 → 选项…: the choices, with what the regular expression of the search
// text makes of it now.
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    // find and replacement: the texts of the window's fields, checked as an
    // expression while 正则表达式 is ticked.
    OptionsDialog(const RunChoices &choices, const QString &find, const QString &replacement,
                  QWidget *parent = nullptr);

    RunChoices choices() const;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void check();
    void fitTexts();

    QCheckBox *m_regex;
    QCheckBox *m_ignoreCase;
    QLabel *m_check;
    QLineEdit *m_include;
    QLineEdit *m_exclude;
    QString m_find;
    QString m_replacement;
};
