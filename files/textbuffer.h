#pragma once

#include <QString>

namespace torvale {

// The text buffer in which a page is assembled. Text goes in by appending and
// comes out whole: BufferWriter writes out what it holds and empties it,
// whenever it holds more than 256 Ki characters and at the end of the page,
// so that a large page is never held whole.
class TextBuffer
{
public:
    void buffer_clear() { m_text.resize(0); } // keeps its room for the next part
    void buffer_append(QStringView text) { m_text.append(text); }
    const QString &buffer_text() const { return m_text; }

private:
    QString m_text;
};

} // namespace torvale
