#pragma once

#include <QDialog>

// The author dialog: who made the program and how to reach them.
class Form3 : public QDialog
{
    Q_OBJECT

public:
    explicit Form3(QWidget *parent = nullptr);
};
