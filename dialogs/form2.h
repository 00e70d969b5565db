#pragma once

#include <QColor>
#include <QDialog>

#include <initializer_list>

// The help dialog: how the three batch operations are used.
class Form2 : public QDialog
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);
};

// A static label of a dialog: object name, place, text (UTF-8).
struct DialogLabel
{
    const char *name;
    QRect geometry;
    const char *text;
};

// Adds the labels, wrapping at their width and cut off below, in the given
// text colour (an invalid colour keeps the default).
void add_dialog_labels(QDialog *dialog, std::initializer_list<DialogLabel> labels, const QColor &colour = {},
                       const QColor &background = {});

// Shared look of the two dialogs: fixed frame, no minimize or maximize
// button, the program's icon, and an OK button "确定" that has the focus.
void setup_fixed_dialog(QDialog *dialog, const QString &title, QSize clientSize, QRect okGeometry);
