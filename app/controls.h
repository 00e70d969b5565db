#pragma once

#include <functional>

class FolderTree;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

// The visible controls of the main window, each at its fixed place, with its
// colour and font. Drive1 and Dir1 are made empty here; FolderPicker fills
// and runs them.
struct Form1Controls
{
    QLabel *Image1 = nullptr;
    QComboBox *Drive1 = nullptr;
    FolderTree *Dir1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QComboBox *Combo1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLineEdit *Text9 = nullptr;
    QLineEdit *Text3 = nullptr;
    QPushButton *Command3 = nullptr;
    QLineEdit *Text4 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Label1 = nullptr;
};

// Makes the controls on the window's client area (468 x 371) and sets the
// keyboard order: each operation's fields, then its button.
Form1Controls create_form1_controls(QWidget *client);

// A one-line field keeps one line: text with a line break (pasted, dropped
// or set) keeps the first line of what came in, and told() is called.
void keep_one_line(QLineEdit *field, std::function<void()> told);
