#pragma once

#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QByteArray>

#include <cstdio>

// Sentence text as the instrument sends it: "$" in front unless the text starts with "$" or "!", then
// the checksum and CR LF.
inline QByteArray Framed(const QByteArray& baText) {
    char acLine[256];
    const bool bHasStart = baText.startsWith('$') || baText.startsWith('!');
    snprintf(acLine, sizeof acLine - 6, "%s%s", bHasStart ? "" : "$", baText.constData());
    AppendChecksum(acLine);
    return QByteArray(acLine);
}

// Feeds the framed text byte by byte, as the port reader does; the code left by the completing byte.
inline common::SentenceCode FeedSentence(BasicNMEA& framer, const QByteArray& baText) {
    common::SentenceCode uiCode = 0;
    for (const char c : Framed(baText)) {
        framer.ProcessByte(static_cast<uint8_t>(c));
        if (framer.uiLastCode != 0)
            uiCode = framer.uiLastCode;
    }
    return uiCode;
}

// A fixed text member as its reader sees it, or a mark when it lacks its terminator or NUL padding.
template <size_t N> QByteArray StoredText(const char (&szMember)[N]) {
    const QByteArray baAll(szMember, N);
    const int iLength = baAll.indexOf('\0');
    if (iLength < 0)
        return "<unterminated>";
    if (baAll.count('\0') != int(N) - iLength)
        return "<unpadded>";
    return baAll.left(iLength);
}
