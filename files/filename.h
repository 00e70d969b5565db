#pragma once

#include <QByteArray>
#include <QString>

namespace torvale {

// A file name as the system gives it: bytes. Names from Windows archives are
// often GBK bytes, not UTF-8, so every name is kept, opened and renamed by
// its bytes; its text serves for showing and ordering only.
struct FileName
{
    // As text is read (CharsetGuess): a name that reads as well in UTF-8 as
    // in GBK takes the likelier reading, UTF-8 when they are even.
    enum class Coding : quint8 {
        Utf8,        // UTF-8 (ASCII included)
        Gbk,         // GBK, as Windows archives bring names
        Gb18030,     // GB18030, where GBK does not read it
        Undecodable, // none of them: the text shows the bad bytes as \xHH
    };

    FileName() = default;
    // A name and its text; a name that is plain ASCII keeps no second copy
    // of itself as text (a folder may hold a million names).
    FileName(const QByteArray &bytes, const QString &text, Coding coding);

    QByteArray bytes;
    Coding coding = Coding::Utf8;
    QString text() const { return m_text.isNull() ? QString::fromLatin1(bytes) : m_text; }
    bool is_ascii() const { return m_text.isNull(); }

    static FileName from_bytes(const QByteArray &bytes);
    static Coding coding_of(QByteArrayView bytes);
    // The text of bytes in a known coding (a part of a name, say).
    static QString text_of(QByteArrayView bytes, Coding coding);

    // The name as reports and previews show it: GBK and GB18030 names are
    // marked, and control characters (a line feed, say) and marks that turn
    // the direction of text are escaped, so that a name is one line and reads
    // as it is; a backslash is doubled, so that two names never show the same.
    QString shown() const;

    bool operator==(const FileName &o) const { return bytes == o.bytes; }
    bool operator!=(const FileName &o) const { return bytes != o.bytes; }

private:
    QString m_text; // null for a name that is plain ASCII
};

// Text with its control characters and direction marks escaped (\n, \x01, \u202e).
QString escaped_controls(QStringView text);

// True when the bytes are a name of one entry of a folder: not empty, no
// separator or NUL, not "." or "..".
bool is_plain_name(QByteArrayView bytes);

// The extension of a file name: everything after its first dot, or the whole
// name when it has none ("archive.tar.GZ" -> "tar.gz"). It keeps its bytes, in the
// coding of the name; letters are lower-cased (in a GBK or GB18030 name only
// the ASCII ones, so that no character changes its bytes).
QByteArray extension_bytes(const FileName &name);

// The bytes of a part of the name lower-cased the same way.
QByteArray lower_case_bytes(QByteArrayView bytes, FileName::Coding coding);

} // namespace torvale
