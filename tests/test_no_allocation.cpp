// Nothing on the sentence-parsing path allocates. The global allocation functions (and, with glibc,
// malloc itself) are replaced with counting ones while a million mixed sentences, damaged ones and
// every kind of diagnostic among them, go through the framer and parser.
#include "StderrCapture.h"
#include "bench/SentenceStream.h"
#include "framing/AppendChecksum.h"
#include "framing/BasicNMEA.h"

#include <QtTest>

#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNIK_SANITIZED 1
#endif
#endif
// The sanitizer brings its own malloc; there only operator new is counted.
#if defined(__GLIBC__) && !defined(VORNIK_SANITIZED) && !defined(__SANITIZE_ADDRESS__)
#define VORNIK_COUNT_MALLOC 1
#endif

// Only the test's own thread counts, and only while armed.
thread_local bool bCounting = false;
thread_local long iNewCalls = 0;
thread_local long iMallocCalls = 0;

// The array and nothrow forms of the C++ library come down to this one.
void* operator new(size_t uiSize) {
    iNewCalls += bCounting;
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
    iMallocCalls += bCounting;
    return __libc_malloc(uiSize);
}
void* realloc(void* p, size_t uiSize) noexcept {
    iMallocCalls += bCounting;
    return __libc_realloc(p, uiSize);
}
void free(void* p) noexcept {
    __libc_free(p);
}
}
#endif

// Sentences that handlers refuse or print about, which a good line rarely carries, one per line.
const char kDiagnosticBodies[] =
    "PFLAE,A,2,11,Obstacle database expired\nPFLAQ,OBST,45\nPFLAQ,IGC,Downloading,70\n"
    "PFLAL,Test alert text\nPFLAC,A,HWVER,1.10\nPFLAC,A,PRIV,1\nPFLAC,A,FREQ,868\n"
    "PFLAC,A,RADIOID,2,DDA85C\nPFLAA,0,100,200\nGPGSV,3,4,11\nGPGGA,120000\n"
    "GNGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.0,1.0,1.0,1\n"
    "GNGNS,120000,,,,,AAN,05,1.0,100.0,40.0,,,V\nGPGSV,1,1,11,01,02,003,04,1\n"
    "PCAID,N,1\nPGRMZ,100\nw,1,2,3\nLXGRB,1,1\nPFLX0,LXWP0,2,LXWP2,10,LXWP3\n"
    "VNINFO2\nVNSET2,1\nVNLOGBOOK,x";

class TestNoAllocation : public QObject {
    Q_OBJECT

private slots:
    // Without TZ, glibc's tzset() copies the zone file's name on every call, and the parser's clock asks
    // for the zone now and then. The same zone, named.
    void initTestCase() { setenv("TZ", ":/etc/localtime", 0); }

    // Without this the zero below would prove nothing.
    void countersSeeAllocations() {
        bCounting = true;
        void* volatile pNew = ::operator new(16);
        ::operator delete(pNew);
        const QByteArray baQt(64, 'x'); // Qt's containers call malloc directly
        bCounting = false;
        QCOMPARE(iNewCalls, 1L);
#ifdef VORNIK_COUNT_MALLOC
        QVERIFY(iMallocCalls >= 2);
#endif
        iNewCalls = iMallocCalls = 0;
    }

    void parsingAllocatesNothing() {
        // The generated line traffic, then the diagnostic sentences.
        std::string sGood = bench::BuildStream(bench::Mixed, 10000);
        const QList<QByteArray> aBodies = QByteArray(kDiagnosticBodies).split('\n');
        for (const QByteArray& baBody : aBodies) {
            char acLine[200];
            snprintf(acLine, sizeof acLine, "$%s", baBody.constData());
            AppendChecksum(acLine);
            sGood += acLine;
        }
        const long iStreamSentences = 10000 + aBodies.size();
        // About one byte in a hundred flipped: checksums fail, sentences run long or lose their end.
        std::string sDamaged = sGood;
        bench::Rng rng(7);
        for (size_t i = 0; i < sDamaged.size(); i += static_cast<size_t>(rng.Range(1, 199)))
            sDamaged[i] = static_cast<char>(rng.Range(0, 255));

        BasicNMEA framer;
        StderrCapture capture;
        long iSentences = 0;
        long iTaken = 0;
        bCounting = true;
        for (int iPass = 0; iSentences < 1000000; ++iPass) {
            // Every tenth pass goes through damaged, the last ones with the debug trace on.
            framer.parser.bDebug = iPass >= 98;
            for (char c : iPass % 10 == 9 ? sDamaged : sGood) {
                framer.ProcessByte(static_cast<uint8_t>(c));
                iTaken += framer.uiLastCode != 0;
            }
            iSentences += iStreamSentences;
        }
        bCounting = false;
        const QByteArray baMessages = capture.Text();

        QCOMPARE(iNewCalls, 0L);
        QCOMPARE(iMallocCalls, 0L);
        // The stream did reach the handlers and their messages.
        QVERIFY(iTaken > iSentences / 2);
        QVERIFY(baMessages.contains("NMEA CRC error"));
        QVERIFY(baMessages.contains("Err: 17/0x11, Sev: 2, Msg:Obstacle database expired"));
        QVERIFY(baMessages.contains("ParseNMEA begin"));
    }
};

QTEST_APPLESS_MAIN(TestNoAllocation)
#include "test_no_allocation.moc"
