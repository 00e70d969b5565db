#pragma once

// What torvale-cli understands: its commands, their options, and how the
// arguments are read.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

enum class CommandKind { Rename, Replace, Html, Undo, History };

struct OptionSpec
{
    const char *name;  // --name
    char letter;       // -l, or 0
    const char *value; // what its value is called; nullptr for a switch
    const char *help;
    bool repeatable = false;
};

struct CommandSpec
{
    const char *name;
    CommandKind kind;
    const char *synopsis;
    const char *help;
    QList<OptionSpec> options;
    const char *required; // the option that must hold text, or nullptr
    bool folderOptional;  // the folder may be left out
};

const QList<CommandSpec> &commands();

struct Arguments
{
    QByteArray dir; // as given: a path is bytes; empty when left out
    QHash<QString, QStringList> values;
    QSet<QString> switches;
    bool help = false;

    QString value(const char *name) const { return values.value(QLatin1String(name)).value(0); }
    bool has(const char *name) const
    {
        return switches.contains(QLatin1String(name)) || values.contains(QLatin1String(name));
    }
};

// Reads the arguments after the command: its folder and options, as
// "--name value", "--name=value" or "-l"; nothing, or why they are wrong.
std::optional<QString> parse_arguments(const CommandSpec &command, const QList<QByteArray> &args,
                                       Arguments *parsed);

// An argument as the person typed it, for a message.
QString shown_argument(const QByteArray &arg);

// --help, for the program or one command.
QString usage_text(const CommandSpec *command);
