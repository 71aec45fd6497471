#pragma once

#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QByteArray>
#include <QTest>

#include <cstdio>
#include <initializer_list>

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

// The columns of a data-driven test, each named once with its type. Called with a row's name and one
// value per column, it adds the row; each value is taken in its column's type, so that a literal or a
// braced list needs no spelling out.
template <typename... Columns> class DataTable {
public:
    explicit DataTable(std::initializer_list<const char*> aszNames) {
        const char* const* ppszName = aszNames.begin();
        (QTest::addColumn<Columns>(*ppszName++), ...);
    }

    void operator()(const QByteArray& baName, const Columns&... values) const {
        (QTest::newRow(baName.constData()) << ... << values);
    }
};
