// Other equipment on the instrument's line: the GNSS receiver, FLARM and LX sentences that a pilot's
// cable carries besides the instrument's own, and the overlong lines of a talker at fault.
#include "sim/SimInstrument.h"

#include <QTimer>

#include <cstdio>

namespace {

// Flight parts are raw bytes: the instrument keeps the other talkers quiet while they are asked for
// and this long after the last request, longer than the tool waits before asking for a part again.
constexpr qint64 kRawQuietMs = 5000;
// Between two bursts of their own: a receiver and a FLARM talk about once a second.
constexpr int kMinBurstGapMs = 200;
constexpr int kBurstGapSpanMs = 800;
// One item in this many is an overlong line.
constexpr uint32_t kOverlongEvery = 8;

// Well-formed sentences of other equipment; each takes one varying number.
const char* const kapcForeign[] = {
    "GPRMC,1235%02u,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
    "GPGGA,1235%02u,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
    "GNGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,%u.1",
    "PFLAU,3,1,2,1,1,-45,2,-28,%u,DD8F12",
    "PFLAA,0,-1234,%u,220,2,DD8F12,180,,30,-1.4,1",
    "PGRMZ,%u,f,3",
    "LXWP0,Y,119.4,%u.6,0.02,0.02,0.02,0.02,0.02,0.02,,000,107.2",
    "LXWP2,1.5,1.11,13,2.96,-3.03,1.35,%u",
    "PTAS1,201,%u,1000,80",
};
constexpr uint32_t kForeignKinds = sizeof(kapcForeign) / sizeof(kapcForeign[0]);

} // namespace

void SimInstrument::SetForeignTraffic(bool bOn) {
    bForeign = bOn;
    if (bOn && !pForeignTimer->isActive())
        pForeignTimer->start(kMinBurstGapMs);
    else if (!bOn)
        pForeignTimer->stop();
}

uint32_t SimInstrument::NextForeignRandom() {
    uiForeignSeed = uiForeignSeed * 1103515245u + 12345u;
    return uiForeignSeed >> 16;
}

// One to three items, each a sentence of other equipment or, now and then, an overlong line.
QByteArray SimInstrument::ForeignTraffic() {
    QByteArray baOut;
    const uint32_t uiItems = 1 + NextForeignRandom() % 3;
    for (uint32_t i = 0; i < uiItems; ++i) {
        if (NextForeignRandom() % kOverlongEvery == 0) {
            baOut += OverlongLine();
            continue;
        }
        char acBody[sim::kMaxBody + 1];
        snprintf(acBody, sizeof(acBody), kapcForeign[NextForeignRandom() % kForeignKinds],
                 static_cast<unsigned>(NextForeignRandom() % 60));
        char acFrame[sim::kMaxBody + 8];
        if (sim::FrameSentence(acBody, acFrame, sizeof(acFrame)) > 0)
            baOut += acFrame;
    }
    return baOut;
}

// A good checksum over a body far beyond any talker's limit, a line that never reaches its "*", or
// more fields than a sentence may have.
QByteArray SimInstrument::OverlongLine() {
    switch (NextForeignRandom() % 3) {
    case 0: {
        const QByteArray baBody = "GPTXT,01,01,02," + QByteArray(150 + NextForeignRandom() % 300, 'W');
        char acFrame[512];
        return sim::FrameSentence(baBody.constData(), acFrame, sizeof(acFrame)) > 0 ? QByteArray(acFrame)
                                                                                    : QByteArray();
    }
    case 1:
        return "$PFLAM," + QByteArray(200 + NextForeignRandom() % 400, '7') + "\r\n";
    default: {
        QByteArray baBody = "PFLAX";
        for (int i = 0; i < 40; ++i)
            baBody += ",1";
        char acFrame[128];
        return sim::FrameSentence(baBody.constData(), acFrame, sizeof(acFrame)) > 0 ? QByteArray(acFrame)
                                                                                    : QByteArray();
    }
    }
}

// Traffic of its own between replies, unless a raw transfer may be under way.
void SimInstrument::SendForeignBurst() {
    // A request already on the line is taken first: once a part is asked for, nothing else goes out.
    ReadLine();
    const bool bPartsAsked = iLastPartReqMs >= 0 && clock.elapsed() - iLastPartReqMs < kRawQuietMs;
    if (bForeign && eUpdateStage == UpdateOff && !bPartsAsked)
        Send(ForeignTraffic(), false);
    if (bForeign)
        pForeignTimer->start(kMinBurstGapMs + static_cast<int>(NextForeignRandom() % kBurstGapSpanMs));
}
