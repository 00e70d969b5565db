#pragma once

#include "report.h"

#include "files/charset.h"

#include <QByteArray>
#include <QString>

namespace torvale {

struct ReplaceParams
{
    QString dir;     // the working directory
    QString find;    // exactly as typed; an empty text changes nothing
    QString replace; // exactly as typed; an empty text deletes each occurrence
};

// Replaces every occurrence of needle by replacement in the bytes of a text
// file in the given character set, line by line: left to right, without
// overlap, never across a line end (a CR, with the LF right after it) and,
// in GBK, only where a whole character begins. Every other byte stays as it
// was. Returns the number of occurrences replaced; *out is set only when
// there was at least one.
int replace_in_bytes(QByteArrayView bytes, Charset charset, QByteArrayView needle, QByteArrayView replacement,
                     QByteArray *out);

Report run_replace(const ReplaceParams &params, const Progress &progress = {});

} // namespace torvale
