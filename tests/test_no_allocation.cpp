// Nothing on the sentence-parsing path allocates. The global allocation functions (and, with glibc,
// malloc itself) are replaced with counting ones while a million sentences go through the framer and
// parser: the fuzzer's seed corpus of every family, every identifier with every field count, which
// brings every refusal message, and all of it damaged too.
#include "SentenceFeed.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <cstdlib>

#ifndef __has_feature
#define __has_feature(x) 0
#endif
// The sanitizer brings its own malloc; there only operator new is counted.
#if defined(__GLIBC__) && !__has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define VORNIK_COUNT_MALLOC 1
#endif

// Only the test's own thread counts, and only while armed.
thread_local bool bCounting = false;
thread_local long iAllocations = 0;

// The array and nothrow forms of the C++ library come down to this one.
void* operator new(size_t uiSize) {
    iAllocations += bCounting;
    void* p = malloc(uiSize == 0 ? 1 : uiSize);
    if (p == nullptr)
        abort(); // the project runs without exceptions
    return p;
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}

#ifdef VORNIK_COUNT_MALLOC
// glibc lets a program replace malloc; these hand every call on to glibc's own allocator.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* malloc(size_t uiSize) noexcept {
    iAllocations += bCounting;
    return __libc_malloc(uiSize);
}
void* realloc(void* p, size_t uiSize) noexcept {
    iAllocations += bCounting;
    return __libc_realloc(p, uiSize);
}
void free(void* p) noexcept {
    __libc_free(p);
}
}
#endif

class TestNoAllocation : public QObject {
    Q_OBJECT

private slots:
    // Without TZ, glibc's tzset() copies the zone file's name on every call, and the parser's clock asks
    // for the zone now and then. The same zone, named.
    void initTestCase() { setenv("TZ", ":/etc/localtime", 0); }

    void parsingAllocatesNothing() {
        QByteArray baGood;
        const QDir corpus(QFINDTESTDATA("../fuzz/corpus/protocol"));
        QVERIFY(corpus.exists());
        for (const QString& sName : corpus.entryList(QDir::Files)) {
            QFile file(corpus.filePath(sName));
            QVERIFY(file.open(QIODevice::ReadOnly));
            baGood += file.readAll();
        }
        for (int i = 0; i < facts::kDispatchCount; ++i)
            for (int iFields = 1; iFields <= BasicNMEA::kMaxFields; ++iFields)
                baGood += Framed(facts::kaDispatch[i].pszId + QByteArray(",1").repeated(iFields - 1));
        const long iStreamSentences = baGood.count('$') + baGood.count('!');
        // About one byte in a hundred changed: checksums fail, sentences run long or lose their end.
        QByteArray baDamaged = baGood;
        const quint32 uiSeed = 7;
        QRandomGenerator random(uiSeed);
        for (qsizetype i = 0; i < baDamaged.size(); i += random.bounded(1, 200))
            baDamaged[i] = static_cast<char>(random.bounded(256));

        BasicNMEA framer;
        StderrCapture capture;
        long iTaken = 0;
        bCounting = true;
        const int iPasses = 1000000 / int(iStreamSentences) + 1;
        for (int iPass = 0; iPass < iPasses; ++iPass) {
            // Every tenth pass goes through damaged, the last ones with the debug trace on.
            framer.parser.bDebug = iPass >= iPasses - 2;
            for (const char c : std::as_const(iPass % 10 == 9 ? baDamaged : baGood)) {
                framer.ProcessByte(static_cast<uint8_t>(c));
                iTaken += framer.uiLastCode != 0;
            }
        }
        const long iWhileParsing = iAllocations;
        // Without these the zero would prove nothing: the counters see operator new, and Qt's containers
        // calling malloc directly.
        void* volatile pNew = ::operator new(16);
        ::operator delete(pNew);
        const long iAfterNew = iAllocations;
        const QByteArray baQt(64, 'x');
        bCounting = false;
        const QByteArray baMessages = capture.Text();

        QVERIFY2(iWhileParsing == 0, qPrintable(QString("damage seed %1").arg(uiSeed)));
        QVERIFY(iAfterNew > iWhileParsing);
#ifdef VORNIK_COUNT_MALLOC
        QVERIFY(iAllocations > iAfterNew);
#endif
        // The stream did reach the handlers and their messages.
        QVERIFY(iTaken > iPasses * iStreamSentences / 2);
        QVERIFY(baMessages.contains("NMEA CRC error"));
        QVERIFY(baMessages.contains("Err: 17/0x11, Sev: 2, Msg:Obstacle database expired"));
        QVERIFY(baMessages.contains("ParseNMEA begin"));
    }
};

QTEST_APPLESS_MAIN(TestNoAllocation)
#include "test_no_allocation.moc"
