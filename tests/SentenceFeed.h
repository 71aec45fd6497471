#pragma once

#include "testsupport/ProtocolFacts.h"

#include <QTemporaryFile>
#include <QTest>

#include <initializer_list>
#include <unistd.h>

using facts::FeedSentence;
using facts::Framed;

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
