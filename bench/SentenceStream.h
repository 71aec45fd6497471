#pragma once

// Realistic line traffic for the parser's and the debug panes' benchmarks: what a modern receiver,
// a FLARM, LX and Cambridge instruments and the tool's own instrument put on one line, with values
// that move like a flight's. Every sentence carries its correct checksum and ends in CR LF.
#include "framing/AppendChecksum.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

enum Family { Gnss, Flarm, Lx, LxData, Device, Mixed, FamilyCount };

inline const char* FamilyName(Family family) {
    static const char* const kNames[FamilyCount] = {"GNSS",          "FLARM",  "LX and C302",
                                                    "LXDT and VNDT", "Device", "Mixed"};
    return kNames[family];
}

// SplitMix64: small, fast and the same on every platform.
class Rng {
public:
    explicit Rng(uint64_t uiSeed) : uiState(uiSeed) {}

    uint64_t Next() {
        uint64_t z = (uiState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [iLow, iHigh].
    int Range(int iLow, int iHigh) {
        const uint64_t uiSpan = static_cast<uint64_t>(iHigh - iLow + 1);
        return iLow + static_cast<int>(((Next() >> 32) * uiSpan) >> 32);
    }

private:
    uint64_t uiState;
};

// Builds sentence bodies and appends them to the stream, framed as a sender frames them.
class StreamWriter {
public:
    StreamWriter(std::string& sStream, Rng& rng) : sOut(sStream), r(rng) {}

    // One sentence of the family, its kind chosen by how often the kind is heard on a real line.
    void Sentence(Family family) {
        switch (family) {
        case Gnss:
            return GnssSentence();
        case Flarm:
            return FlarmSentence();
        case Lx:
            return LxSentence();
        case LxData:
            return LxDataSentence();
        case Device:
            return DeviceSentence();
        default:
            return MixedSentence();
        }
    }

private:
    template <typename... Args> void Emit(char cStart, const char* pszFormat, Args... args) {
        char acLine[200];
        acLine[0] = cStart;
        snprintf(acLine + 1, sizeof acLine - 8, pszFormat, args...);
        AppendChecksum(acLine);
        sOut += acLine;
    }

    // hhmmss.ss, ddmm.mmmmm and dddmm.mmmmm as receivers print them.
    const char* Time() {
        snprintf(acTime, sizeof acTime, "%02d%02d%02d.%02d", r.Range(6, 19), r.Range(0, 59), r.Range(0, 59),
                 r.Range(0, 9) * 10);
        return acTime;
    }
    const char* Latitude() {
        snprintf(acLat, sizeof acLat, "%02d%02d.%05d", r.Range(40, 52), r.Range(0, 59), r.Range(0, 99999));
        return acLat;
    }
    const char* Longitude() {
        snprintf(acLon, sizeof acLon, "%03d%02d.%05d", r.Range(5, 16), r.Range(0, 59), r.Range(0, 99999));
        return acLon;
    }

    void GnssSentence() {
        const int iKind = r.Range(0, 11);
        switch (iKind) {
        case 0:
            return Emit('$', "GNRMC,%s,A,%s,N,%s,E,%d.%03d,%d.%02d,%02d%02d%02d,,,A", Time(), Latitude(),
                        Longitude(), r.Range(0, 60), r.Range(0, 999), r.Range(0, 359), r.Range(0, 99),
                        r.Range(1, 28), r.Range(1, 12), r.Range(20, 30));
        case 1:
            return Emit('$', "GNGGA,%s,%s,N,%s,E,1,%02d,%d.%d,%d.%d,M,%d.%d,M,,", Time(), Latitude(),
                        Longitude(), r.Range(4, 24), r.Range(0, 2), r.Range(0, 9), r.Range(150, 2500),
                        r.Range(0, 9), r.Range(30, 50), r.Range(0, 9));
        case 2:
            // NMEA 4.0 GNS: one mode letter per constellation.
            return Emit('$', "GNGNS,%s,%s,N,%s,E,AAN,%02d,%d.%d,%d.%d,%d.%d,,", Time(), Latitude(),
                        Longitude(), r.Range(4, 24), r.Range(0, 2), r.Range(0, 9), r.Range(150, 2500),
                        r.Range(0, 9), r.Range(30, 50), r.Range(0, 9));
        case 3:
        case 4:
            return Emit(
                '$', "GNGSA,A,3,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,,,%d.%02d,%d.%02d,%d.%02d",
                r.Range(1, 32), r.Range(1, 32), r.Range(1, 32), r.Range(1, 32), r.Range(1, 32),
                r.Range(1, 32), r.Range(1, 32), r.Range(1, 32), r.Range(1, 32), r.Range(1, 32), r.Range(1, 3),
                r.Range(0, 99), r.Range(0, 2), r.Range(0, 99), r.Range(1, 3), r.Range(0, 99));
        case 5:
            // GNVTG is not one the parser keeps; a receiver sends it all the same.
            return Emit('$', "GNVTG,%d.%02d,T,,M,%d.%03d,N,%d.%03d,K,A", r.Range(0, 359), r.Range(0, 99),
                        r.Range(0, 60), r.Range(0, 999), r.Range(0, 110), r.Range(0, 999));
        default: {
            static const char* const kTalkers[] = {"GP", "GL", "GA"};
            const char* pszTalker = kTalkers[iKind % 3];
            const int iMsg = r.Range(1, 3);
            return Emit(
                '$',
                "%sGSV,3,%d,11,%02d,%02d,%03d,%02d,%02d,%02d,%03d,%02d,%02d,%02d,%03d,,%02d,%02d,%03d,%02d",
                pszTalker, iMsg, r.Range(1, 32), r.Range(0, 90), r.Range(0, 359), r.Range(20, 50),
                r.Range(1, 32), r.Range(0, 90), r.Range(0, 359), r.Range(20, 50), r.Range(1, 32),
                r.Range(0, 90), r.Range(0, 359), r.Range(1, 32), r.Range(0, 90), r.Range(0, 359),
                r.Range(20, 50));
        }
        }
    }

    void FlarmSentence() {
        const int iKind = r.Range(0, 39);
        if (iKind < 10)
            return Emit('$', "PFLAU,%d,1,2,1,%d,%d,2,%d,%d,%06X", r.Range(0, 9), r.Range(0, 3),
                        r.Range(-180, 180), r.Range(-500, 500), r.Range(0, 5000), r.Range(0, 0xFFFFFF));
        if (iKind < 38)
            return Emit('$', "PFLAA,%d,%d,%d,%d,2,%06X,%d,%d.%d,%d,%d.%d,1", r.Range(0, 3),
                        r.Range(-5000, 5000), r.Range(-5000, 5000), r.Range(-500, 500), r.Range(0, 0xFFFFFF),
                        r.Range(0, 359), r.Range(-20, 20), r.Range(0, 9), r.Range(20, 80), r.Range(-5, 5),
                        r.Range(0, 9));
        if (iKind == 38)
            return Emit('$', "PFLAC,A,SWVER,7.%02d", r.Range(0, 30));
        return Emit('$', "PFLAC,A,OBSTEXP,2025%02d%02d", r.Range(1, 12), r.Range(1, 28));
    }

    void LxSentence() {
        switch (r.Range(0, 9)) {
        case 0:
        case 1:
        case 2: {
            // The vario is sent as six samples of the last second.
            const int iVario = r.Range(-500, 500);
            return Emit('$', "LXWP0,Y,%d.%d,%d.%d,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f,%d,%d,%d.%d",
                        r.Range(60, 250), r.Range(0, 9), r.Range(150, 3000), r.Range(0, 9), iVario / 100.0,
                        (iVario + r.Range(-9, 9)) / 100.0, (iVario + r.Range(-9, 9)) / 100.0,
                        (iVario + r.Range(-9, 9)) / 100.0, (iVario + r.Range(-9, 9)) / 100.0,
                        (iVario + r.Range(-9, 9)) / 100.0, r.Range(0, 359), r.Range(0, 359), r.Range(0, 40),
                        r.Range(0, 9));
        }
        case 3:
            // LXWP2 is not one the parser keeps.
            return Emit('$', "LXWP2,%d.%d,1.%02d,%d,2.96,-3.03,1.35,45", r.Range(0, 4), r.Range(0, 9),
                        r.Range(0, 99), r.Range(0, 50));
        case 4:
        case 5:
            return Emit('!', "w,%03d,%03d,%04d,%03d,%05d,%05d,%04d,%03d,%03d,%03d,%03d,%d,%03d",
                        r.Range(0, 359), r.Range(0, 300), r.Range(0, 9999), r.Range(400, 600),
                        r.Range(1000, 4000), r.Range(1000, 1030), r.Range(0, 9999), r.Range(150, 250),
                        r.Range(150, 250), r.Range(150, 250), r.Range(0, 50), r.Range(0, 9), r.Range(0, 30));
        case 6:
            return Emit('$', "PCAID,N,%d,%03d,%03d,%04d,%03d", r.Range(-100, 3000), r.Range(0, 999),
                        r.Range(0, 999), r.Range(0, 9999), r.Range(0, 999));
        case 7:
            return Emit('$', "PGRMZ,%d,f,3", r.Range(500, 9000));
        case 8:
            return Emit('$', "PFLX2,%d.%d,1.%02d,%d,1.00,1,,%d", r.Range(0, 4), r.Range(0, 9), r.Range(0, 99),
                        r.Range(0, 50), r.Range(0, 100));
        default:
            return Emit('$', "RPYL,%d,%d,0,0,0,0,0", r.Range(-600, 600), r.Range(-300, 300));
        }
    }

    void LxDataSentence() {
        switch (r.Range(0, 6)) {
        case 0:
            return Emit('$', "LXDT,GET,INFO");
        case 1:
            return Emit('$', "LXDT,SET,MC_BAL,%d.%d,%d,%d,0,0,0,%d", r.Range(0, 4), r.Range(0, 9),
                        r.Range(100, 140), r.Range(0, 50), r.Range(0, 100));
        case 2:
            return Emit('$', "LXDT,SET,TP,%d,0,%d,%d,Turnpoint %d", r.Range(0, 9), r.Range(2400000, 3000000),
                        r.Range(300000, 900000), r.Range(1, 99));
        case 3:
            return Emit('$', "VNDT,SET,ZONE,%d,1,1,0,%d.0,%d.0,0.0,%d,0,0", r.Range(0, 9), r.Range(0, 180),
                        r.Range(0, 180), r.Range(500, 20000));
        case 4:
            return Emit('$', "LXDT,SET,NAVIGATE,1,Home field,%d,%d,0,1,%d.0,3", r.Range(2400000, 3000000),
                        r.Range(300000, 900000), r.Range(100, 900));
        case 5:
            return Emit('$', "LXDT,SET,TSK_PAR,1,%d,%d:%02d:00", r.Range(0, 3000), r.Range(0, 5),
                        r.Range(0, 59));
        default:
            return Emit('$', "LXDT,SET,PILOT,Pilot %d,Club %d", r.Range(1, 99), r.Range(1, 99));
        }
    }

    void DeviceSentence() {
        switch (r.Range(0, 3)) {
        case 0:
            return Emit('$', "VNREQ,201,%d", r.Range(0, 511));
        case 1:
            return Emit('$', "VNINFO2,Tovak_2,P17-%02d,%d,1,7,%d,1.5", r.Range(1, 52), r.Range(1000, 99999),
                        r.Range(0, 99));
        case 2:
            return Emit('$', "VNSET2,%d,%d.%d,%d,%d,%d,%d", r.Range(-9, 9), r.Range(0, 3), r.Range(0, 9),
                        r.Range(0, 100), r.Range(-1, 16), r.Range(0, 999999), r.Range(0, 5));
        default:
            return Emit('$', "VNLOGBOOK,%d,0,%d,%d,0,%d", r.Range(1, 50), r.Range(1, 9),
                        r.Range(0, 2000000000), r.Range(1000, 300000));
        }
    }

    // A flight's line: mostly receiver and FLARM traffic, the instruments' own data, and now and then
    // configuration and the tool's instrument.
    void MixedSentence() {
        const int iPick = r.Range(0, 99);
        if (iPick < 60)
            return GnssSentence();
        if (iPick < 80)
            return FlarmSentence();
        if (iPick < 95)
            return LxSentence();
        if (iPick < 97)
            return LxDataSentence();
        return DeviceSentence();
    }

    std::string& sOut;
    Rng& r;
    char acTime[16];
    char acLat[16];
    char acLon[16];
};

// iSentences sentences of one family, or of all of them for Mixed.
inline std::string BuildStream(Family family, int iSentences, uint64_t uiSeed = 1) {
    std::string sStream;
    sStream.reserve(static_cast<size_t>(iSentences) * 80);
    Rng rng(uiSeed);
    StreamWriter writer(sStream, rng);
    for (int i = 0; i < iSentences; ++i)
        writer.Sentence(family);
    return sStream;
}

} // namespace bench
