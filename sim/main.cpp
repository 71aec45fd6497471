// vornik-sim: a simulated instrument on a pseudo-terminal, for trying the tool and for tests.

#include "sim/SimInstrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kDescription[] =
    "Simulated Vornik instrument. Opens a pseudo-terminal, prints its device path on one line and\n"
    "answers the tool's sentences on it until interrupted.\n"
    "\n"
    "Examples:\n"
    "  vornik-sim                                   a Tovak_2, serial 512, firmware 1.4.7\n"
    "  vornik-sim --model Pelko_2 --serial 77       a Pelko_2 (short settings form)\n"
    "  vornik-sim --flights 300,256,400000          a logbook of three flights\n"
    "  vornik-sim --link /tmp/vornik0 --noise &     a fixed path, kept across --unplug-after/--replug-after\n"
    "  VORNIK_EXTRA_PORTS=/tmp/vornik0 vornik-tool  the tool then lists that path\n"
    "\n"
    "Part faults take PART or PART:TIMES. Settings are te,filter,trigger,channel,pairkey,telemetry,\n"
    "for example 80,1.5,50,-1,0,1.";

int aiSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char cByte = 1;
    (void)!write(aiSignalPipe[1], &cByte, 1);
}

// "P" or "P:TIMES"; false when the text is neither.
bool ParsePartFault(const QString& sText, int* piPart, int* piTimes) {
    const QStringList asParts = sText.split(':');
    if (asParts.size() > 2)
        return false;
    bool bOk = false;
    *piPart = asParts[0].toInt(&bOk);
    *piTimes = 1;
    if (bOk && asParts.size() == 2)
        *piTimes = asParts[1].toInt(&bOk);
    return bOk;
}

bool ApplyIdentity(const QCommandLineParser& parser, SimInstrument& instrument) {
    SimIdentity identity;
    identity.baModel = parser.value("model").toUtf8();
    identity.baProduced = parser.value("produced").toUtf8();
    identity.baHwVersion = parser.value("hw").toUtf8();
    bool bOk = true;
    identity.uiSerial = parser.value("serial").toUInt(&bOk);
    const QStringList asFw = parser.value("fw").split('.');
    if (!bOk || asFw.size() != 3)
        return false;
    uint32_t* apuiFw[] = {&identity.uiFwMajor, &identity.uiFwMinor, &identity.uiFwBuild};
    for (int i = 0; i < 3 && bOk; ++i)
        *apuiFw[i] = asFw[i].toUInt(&bOk);
    instrument.SetIdentity(identity);
    return bOk;
}

bool ApplySettings(const QString& sText, SimInstrument& instrument) {
    const QStringList asValues = sText.split(',');
    if (asValues.size() != 6)
        return false;
    bool abOk[6];
    SimSettings settings;
    settings.iTELevel = asValues[0].toInt(&abOk[0]);
    settings.iVarioFilterTenths = qRound(asValues[1].toDouble(&abOk[1]) * 10);
    settings.iServoTrigger = asValues[2].toInt(&abOk[2]);
    settings.iServoChannel = asValues[3].toInt(&abOk[3]);
    settings.uiPairKey = asValues[4].toUInt(&abOk[4]);
    settings.iTelemetry = asValues[5].toInt(&abOk[5]);
    instrument.SetSettings(settings);
    return abOk[0] && abOk[1] && abOk[2] && abOk[3] && abOk[4] && abOk[5];
}

bool ApplyLogbook(const QString& sText, SimInstrument& instrument) {
    if (sText.isEmpty())
        return true;
    for (const QString& sSize : sText.split(',')) {
        bool bOk = false;
        const uint uiSize = sSize.toUInt(&bOk);
        if (!bOk)
            return false;
        instrument.AddFlight(uiSize);
    }
    return true;
}

bool ApplyFaults(const QCommandLineParser& parser, SimInstrument& instrument) {
    instrument.SetSilent(parser.isSet("silent"));
    instrument.SetReplyDelayMs(parser.value("delay").toInt());
    instrument.SetSplitWrites(parser.value("split").toInt());
    instrument.SetNoise(parser.isSet("noise"));
    instrument.SetBadChecksums(parser.isSet("bad-checksums"));
    instrument.SetForeignTraffic(parser.isSet("foreign"));
    for (const QString& sBody : parser.values("lose"))
        instrument.LoseRequest(sBody.toUtf8());
    const struct {
        const char* pcOption;
        SimInstrument::PartFault eFault;
    } aPartOptions[] = {{"stall-part", SimInstrument::PartFault::Stall},
                        {"stray-part", SimInstrument::PartFault::StrayByte},
                        {"unplug-part", SimInstrument::PartFault::Unplug}};
    for (const auto& option : aPartOptions) {
        int iPart = 0;
        int iTimes = 0;
        if (!parser.isSet(option.pcOption))
            continue;
        if (!ParsePartFault(parser.value(option.pcOption), &iPart, &iTimes))
            return false;
        instrument.SetPartFault(option.eFault, iPart, iTimes);
    }
    if (parser.isSet("unplug-chunk"))
        instrument.SetUnplugAtChunk(parser.value("unplug-chunk").toInt());
    if (parser.isSet("update-chunks"))
        instrument.SetUpdateChunkCount(parser.value("update-chunks").toInt());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vornik-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addOptions({
        {"model", "Model name (Tovak_2, Ulmar, Pelko_2 or any other).", "name", "Tovak_2"},
        {"serial", "Serial number.", "number", "512"},
        {"produced", "Production text.", "text", "A7"},
        {"fw", "Firmware version major.minor.build.", "version", "1.4.7"},
        {"hw", "Hardware version, sent as written.", "version", "2.0"},
        {"settings", "Initial settings (see above).", "values"},
        {"flights", "Logbook: comma-separated flight sizes in bytes.", "sizes"},
        {"link", "Also reach the instrument under this path (a symbolic link).", "path"},
        {"baud", "Pace the line at this baud rate, ten bits a byte, both ways (0: at once).", "rate", "0"},
        {"update-chunks", "Chunks to fetch in an update, instead of the header's size.", "count"},
        {"silent", "Answer nothing."},
        {"delay", "Delay every reply by this many milliseconds.", "ms", "0"},
        {"split", "Write every reply in this many pieces, 10 ms apart.", "pieces", "1"},
        {"noise", "Send line noise before every sentence."},
        {"bad-checksums", "Send a garbled sentence with a wrong checksum after every sentence."},
        {"foreign", "Mix GNSS, FLARM and LX sentences and overlong lines into the line."},
        {"lose", "Ignore the first sentence with exactly this body (repeatable).", "body"},
        {"stall-part", "Send half of this flight part, then nothing.", "part"},
        {"stray-part", "Send a stray byte before this flight part.", "part"},
        {"unplug-part", "Close the line when this flight part is requested.", "part"},
        {"unplug-chunk", "Close the line when the update would ask for this chunk.", "chunk"},
        {"unplug-after", "Close the line this many milliseconds after the start.", "ms"},
        {"replug-after", "Reopen a closed line this many milliseconds later.", "ms"},
        {"verbose", "Print every sentence received to stderr."},
    });
    parser.process(app);

    SimInstrument instrument;
    if (!ApplyIdentity(parser, instrument) ||
        (parser.isSet("settings") && !ApplySettings(parser.value("settings"), instrument)) ||
        !ApplyLogbook(parser.value("flights"), instrument) || !ApplyFaults(parser, instrument)) {
        fprintf(stderr, "vornik-sim: invalid option value, see --help\n");
        return 2;
    }
    instrument.SetLinkPath(parser.value("link"));
    if (!instrument.SetLineBaud(parser.value("baud").toInt())) {
        fprintf(stderr, "vornik-sim: the line cannot be paced\n");
        return 1;
    }
    if (!instrument.Open()) {
        fprintf(stderr, "vornik-sim: cannot open a pseudo-terminal\n");
        return 1;
    }
    printf("%s\n", qPrintable(instrument.DevicePath()));
    fflush(stdout);

    if (parser.isSet("verbose")) {
        QObject::connect(&instrument, &SimInstrument::RequestReceived,
                         [](const QByteArray& baBody) { fprintf(stderr, "<- %s\n", baBody.constData()); });
    }
    if (parser.isSet("unplug-after"))
        QTimer::singleShot(parser.value("unplug-after").toInt(), &instrument, &SimInstrument::Unplug);
    if (parser.isSet("replug-after")) {
        const int iReplugMs = parser.value("replug-after").toInt();
        QObject::connect(&instrument, &SimInstrument::LineClosed, [&instrument, iReplugMs]() {
            QTimer::singleShot(iReplugMs, &instrument, [&instrument]() {
                if (instrument.Replug())
                    fprintf(stderr, "vornik-sim: line back on %s\n", qPrintable(instrument.SlavePath()));
            });
        });
    }

    // Interrupted or terminated: leave through the event loop, so that the link is removed.
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, aiSignalPipe) == 0) {
        QSocketNotifier* pNotifier = new QSocketNotifier(aiSignalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(pNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        signal(SIGINT, OnSignal);
        signal(SIGTERM, OnSignal);
    }
    return app.exec();
}
