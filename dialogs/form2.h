#pragma once

#include <QDialog>

// The help dialog: how the three batch operations are used.
class Form2 : public QDialog
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);
};

// Shared look of the two dialogs: fixed frame, no minimize or maximize
// button, the program's icon, and an OK button "确定" that has the focus.
void setup_fixed_dialog(QDialog *dialog, const QString &title, QSize clientSize, QRect okGeometry);
