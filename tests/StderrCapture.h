#pragma once

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

// Redirects the standard error stream to a temporary file for its lifetime, so that a test can compare
// the framer's and the parsers' messages letter for letter.
class StderrCapture {
public:
    StderrCapture() {
        fflush(stderr);
        pFile = tmpfile();
        iSavedFd = dup(STDERR_FILENO);
        dup2(fileno(pFile), STDERR_FILENO);
    }

    ~StderrCapture() {
        Restore();
        fclose(pFile);
    }

    // Everything written to stderr since construction; ends the redirection.
    QByteArray Text() {
        Restore();
        QByteArray baText;
        rewind(pFile);
        char acBuf[4096];
        size_t uiRead;
        while ((uiRead = fread(acBuf, 1, sizeof acBuf, pFile)) > 0)
            baText.append(acBuf, static_cast<qsizetype>(uiRead));
        return baText;
    }

private:
    void Restore() {
        if (iSavedFd < 0)
            return;
        fflush(stderr);
        dup2(iSavedFd, STDERR_FILENO);
        close(iSavedFd);
        iSavedFd = -1;
    }

    FILE* pFile;
    int iSavedFd;
};
