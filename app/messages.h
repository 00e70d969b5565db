#pragma once

#include "ops/describe.h"

#include <functional>

class QWidget;

// The caption Label1 shows while an operation runs ("正在更名" ...).
QString status_caption(torvale::Operation operation);

// Shows what a run did: a refusal or failure, or the files skipped, in a
// message box; a note in an information box; a run without trouble ends
// silently.
void show_report(QWidget *parent, torvale::Operation operation, const torvale::Report &report);

// Calls the function when the widget is clicked with the left button.
void on_click(QWidget *widget, std::function<void()> onClick);
