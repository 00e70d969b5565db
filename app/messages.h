#pragma once

#include "ops/describe.h"

#include <QMessageBox>

#include <functional>

class QWidget;

// The caption Label1 shows while an operation runs ("正在更名" ...).
QString status_caption(torvale::Operation operation);

// Shows a message in a box that fits the screen: a long line is shortened
// with "…" in its middle, and lines that would not fit are left off; the
// whole text is then behind the box's details button.
void show_message(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                  const QString &details = {});
// Asks a question with the buttons Yes and No; true for Yes.
bool ask(QWidget *parent, const QString &title, const QString &text, QMessageBox::StandardButton byDefault);

// Shows what a run did, below the folder it worked in: a refusal, a failure
// or a stop, or the files skipped, in a message box; a note in an
// information box; a run without trouble shows no box. Returns what the
// status line says about the run.
QString show_report(QWidget *parent, torvale::Operation operation, const QString &folder,
                    const torvale::Report &report);

// Calls the function when the widget is clicked with the left button.
void on_click(QWidget *widget, std::function<void()> onClick);
