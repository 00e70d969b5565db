#pragma once

#include <QString>

#include <optional>

class QApplication;

// What the program does before its window opens.

// The names the choices of 选项 are kept under: $XDG_CONFIG_HOME/torvale/torvale.conf
// (~/.config/torvale/torvale.conf), beside the undo history's $XDG_STATE_HOME/torvale.
void name_application();

// Qt's own texts (Yes, No, OK, the text fields' menus) in Chinese, like the rest.
void install_translations(QApplication &app);

// Ends the program cleanly on SIGTERM, SIGINT and SIGHUP (a logout, a
// shutdown, Ctrl+C): the event loop ends and the window goes, and with it the
// private copies kept for undo, instead of leaving them behind.
void quit_on_signals();

// The command line of the window. --help and --version print and give the
// status to exit with; they are looked for before the window system is needed.
std::optional<int> answer_help_or_version(int argc, char *argv[]);

// What is left once Qt has taken its own options: the folder to open with,
// if one is given (a desktop entry's %f may hand over a file: its folder
// then). Anything else is a usage error: nothing, after the message.
std::optional<QString> folder_argument(int argc, char *argv[]);
