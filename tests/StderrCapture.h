#pragma once

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

// Redirects the standard error stream to a temporary file for its lifetime, so that a test can compare
// the framer's and the parsers' messages letter for letter.
class StderrCapture {
public:
    StderrCapture() : pFile(tmpfile()) {
        fflush(stderr);
        iSavedFd = dup(STDERR_FILENO);
        dup2(fileno(pFile), STDERR_FILENO);
    }
    ~StderrCapture() {
        Text();
        fclose(pFile);
    }

    // Everything written to stderr since construction; ends the redirection.
    QByteArray Text() {
        fflush(stderr);
        if (iSavedFd >= 0 && dup2(iSavedFd, STDERR_FILENO) >= 0 && close(iSavedFd) == 0)
            iSavedFd = -1;
        QByteArray baText(static_cast<int>(ftell(pFile)), '\0');
        rewind(pFile);
        return baText.left(
            static_cast<int>(fread(baText.data(), 1, static_cast<size_t>(baText.size()), pFile)));
    }

private:
    FILE* pFile;
    int iSavedFd;
};
