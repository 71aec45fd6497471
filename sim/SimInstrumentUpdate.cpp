// The simulated instrument's update loader: header and chunks fetched, CRCs checked.
#include "sim/SimInstrument.h"

#include <QTimer>

#include <cstdio>
#include <termios.h>

namespace {

constexpr int kBootMs = 300;      // from VNREQ,199 to the loader's first request
constexpr int kRetryMs = 500;     // a request unanswered this long is repeated, well inside the tool's 2 s
constexpr int kQuietMs = 100;     // after a bad chunk the line must be silent this long
constexpr int kMaxTries = 10;     // requests for one header or chunk before the loader gives up
constexpr int kCrcSize = 2;       // CRC-16 behind each chunk, low byte first
constexpr char kMagic[] = "VNFW"; // header bytes 0 to 3; bytes 4 to 7 the image size, little-endian

} // namespace

QByteArray SimInstrument::MakeUpdateHeader(uint32_t uiImageSize) {
    QByteArray baHeader(kUpdateHeaderSize, '\0');
    baHeader.replace(0, 4, QByteArray(kMagic));
    for (int i = 0; i < 4; ++i)
        baHeader[4 + i] = static_cast<char>(uiImageSize >> (8 * i));
    return baHeader;
}

// The instrument restarts into its loader: from now on the line carries raw update data, and the
// sentences of normal operation are not read until the update ends.
void SimInstrument::EnterUpdate() {
    eUpdateStage = UpdateBooting;
    baUpdateIn.clear();
    baUpdateImage.clear();
    iUpdateChunk = 0;
    iUpdateCrcErrors = 0;
    pUpdateTimer->start(kBootMs);
}

void SimInstrument::EndUpdate(bool bComplete, bool bNotify) {
    pUpdateTimer->stop();
    eUpdateStage = UpdateOff;
    baUpdateIn.clear();
    reader.Reset();
    if (bNotify)
        emit UpdateFinished(bComplete);
}

void SimInstrument::UpdateTimerFired() {
    switch (eUpdateStage) {
    case UpdateBooting:
        iUpdateTries = 0;
        RequestHeader();
        break;
    case UpdateHeader:
        RequestHeader();
        break;
    case UpdatePause:
        iUpdateTries = 0;
        RequestChunk();
        break;
    case UpdateChunk:
    case UpdateResync:
        RequestChunk();
        break;
    case UpdateOff:
        break;
    }
}

// Drops what the tool has not read yet: a request repeated while its port was closed would otherwise
// be answered twice once it reopens.
void SimInstrument::WithdrawUnread() {
    if (iSlaveFd >= 0)
        tcflush(iSlaveFd, TCIFLUSH);
}

// The loader asks for the next piece while it has tries left; the timer asks again if none comes.
void SimInstrument::AskForPiece(UpdateStage eStage, const char* pcBody) {
    if (++iUpdateTries > kMaxTries) {
        EndUpdate(false);
        return;
    }
    WithdrawUnread();
    baUpdateIn.clear();
    eUpdateStage = eStage;
    SendLoaderSentence(pcBody);
    pUpdateTimer->start(kRetryMs);
}

void SimInstrument::RequestHeader() {
    AskForPiece(UpdateHeader, "VNREQ,200");
}

void SimInstrument::RequestChunk() {
    if (iUpdateChunk == iUnplugAtChunk) {
        iUnplugAtChunk = -1;
        Unplug();
        return;
    }
    char acBody[32];
    snprintf(acBody, sizeof(acBody), "VNREQ,201,%d", iUpdateChunk);
    AskForPiece(UpdateChunk, acBody);
}

void SimInstrument::UpdateByte(uint8_t byChar) {
    switch (eUpdateStage) {
    case UpdateHeader:
        baUpdateIn.append(static_cast<char>(byChar));
        if (baUpdateIn.size() == kUpdateHeaderSize)
            HeaderComplete();
        break;
    case UpdateChunk:
        baUpdateIn.append(static_cast<char>(byChar));
        if (baUpdateIn.size() == kUpdateChunkSize + kCrcSize)
            ChunkComplete();
        break;
    case UpdateResync:
        pUpdateTimer->start(kQuietMs);
        break;
    case UpdateBooting:
    case UpdatePause:
    case UpdateOff:
        break;
    }
}

void SimInstrument::HeaderComplete() {
    iUpdateChunks = iChunkCountSet;
    if (iUpdateChunks < 0 && baUpdateIn.startsWith(kMagic)) {
        uint32_t uiImageSize = 0;
        for (int i = 3; i >= 0; --i)
            uiImageSize = (uiImageSize << 8) | static_cast<uint8_t>(baUpdateIn[4 + i]);
        iUpdateChunks = static_cast<int>((uiImageSize + kUpdateChunkSize - 1) / kUpdateChunkSize);
    }
    baUpdateImage = baUpdateIn;
    if (iUpdateChunks < 0) {
        // Not an image for this instrument: the loader refuses it and falls silent.
        EndUpdate(false);
        return;
    }
    if (iUpdateChunks == 0) {
        EndUpdate(true);
        return;
    }
    eUpdateStage = UpdatePause;
    pUpdateTimer->start(kUpdateProgramMs);
}

void SimInstrument::ChunkComplete() {
    const uint8_t* pbyChunk = reinterpret_cast<const uint8_t*>(baUpdateIn.constData());
    const uint16_t uiReceived =
        static_cast<uint16_t>(pbyChunk[kUpdateChunkSize] | pbyChunk[kUpdateChunkSize + 1] << 8);
    if (sim::Crc16Xmodem(pbyChunk, kUpdateChunkSize) != uiReceived) {
        ++iUpdateCrcErrors;
        eUpdateStage = UpdateResync;
        pUpdateTimer->start(kQuietMs);
        return;
    }
    baUpdateImage.append(baUpdateIn.constData(), kUpdateChunkSize);
    if (++iUpdateChunk == iUpdateChunks) {
        // The last chunk is in: the loader starts the new firmware and asks for nothing more.
        EndUpdate(true);
        return;
    }
    eUpdateStage = UpdatePause;
    pUpdateTimer->start(kUpdateProgramMs);
}
