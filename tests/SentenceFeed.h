#pragma once

#include "sim/SimWire.h"
#include "testsupport/ProtocolFacts.h"

#include <QtTest> // and with it Qt Core and std::initializer_list

#include <unistd.h>

// Sentence text as the instrument frames it: "$" in front unless the text starts with "$" or "!", then
// the checksum and CR LF.
inline QByteArray Framed(const QByteArray& baText) {
    const bool bBang = baText.startsWith('!');
    const QByteArray baBody = baText.mid(bBang || baText.startsWith('$') ? 1 : 0);
    QByteArray baLine(baBody.size() + 7, '\0'); // "$", "*", two digits, CR LF and the terminator
    baLine.resize(qsizetype(sim::FrameSentence(baBody.constData(), baLine.data(), size_t(baLine.size()))));
    baLine[0] = bBang ? '!' : '$';
    return baLine;
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

// The columns of a data-driven test, each named once with its type. Called with a row's name and one
// value per column, it adds the row; each value is taken in its column's type, so that a literal or a
// braced list needs no spelling out.
template <typename... Columns> struct DataTable {
    explicit DataTable(std::initializer_list<const char*> aszNames) {
        const char* const* ppszName = aszNames.begin();
        (QTest::addColumn<Columns>(*ppszName++), ...);
    }

    void operator()(const QByteArray& baName, const Columns&... values) const {
        (QTest::newRow(baName.constData()) << ... << values);
    }
};

// Redirects the standard error stream to a temporary file for its lifetime, so that a test can compare
// the framer's and the parsers' messages letter for letter.
class StderrCapture {
public:
    StderrCapture() {
        fflush(stderr);
        file.open();
        dup2(file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { Text(); }

    // Everything written to stderr since construction; ends the redirection.
    QByteArray Text() {
        fflush(stderr);
        if (iSavedFd >= 0 && dup2(iSavedFd, STDERR_FILENO) >= 0 && close(iSavedFd) == 0)
            iSavedFd = -1;
        file.seek(0);
        return file.readAll();
    }

private:
    int iSavedFd = dup(STDERR_FILENO);
    QTemporaryFile file;
};
