#pragma once

#include <QString>

namespace torvale {

// The one text buffer in which a file's new content is assembled before it is
// written in a single write. Text goes in by appending and comes out whole.
class TextBuffer
{
public:
    void buffer_clear() { m_text.resize(0); } // keeps its room for the next page
    void buffer_append(QStringView text) { m_text.append(text); }
    const QString &buffer_text() const { return m_text; }

    // Appends the current line and a CR LF.
    void my_write(QStringView WorkText)
    {
        m_text.append(WorkText);
        m_text.append(QLatin1String("\r\n"));
    }

private:
    QString m_text;
};

} // namespace torvale
