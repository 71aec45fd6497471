// Replays files through a fuzz target's entry points without libFuzzer, as an ordinary test: each folder
// named on the command line must exist, and every file in it runs once, in name order. A broken rule of
// the harness aborts, and the name printed last is the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* piArgc, char*** pppszArgv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbyData, size_t uiSize);

int main(int iArgc, char** apszArgv) {
    LLVMFuzzerInitialize(&iArgc, &apszArgv);
    int iReplayed = 0;
    for (int i = 1; i < iArgc; ++i) {
        DIR* pDir = opendir(apszArgv[i]);
        if (pDir == nullptr) {
            fprintf(stderr, "replay: no folder %s\n", apszArgv[i]);
            return 1;
        }
        std::vector<std::string> asNames;
        while (const dirent* pEntry = readdir(pDir))
            if (pEntry->d_name[0] != '.')
                asNames.push_back(std::string(apszArgv[i]) + "/" + pEntry->d_name);
        closedir(pDir);
        std::sort(asNames.begin(), asNames.end());
        for (const std::string& sName : asNames) {
            fprintf(stderr, "replay: %s\n", sName.c_str());
            FILE* pFile = fopen(sName.c_str(), "rb");
            std::vector<uint8_t> abyInput;
            for (int iByte; pFile != nullptr && (iByte = fgetc(pFile)) != EOF;)
                abyInput.push_back(static_cast<uint8_t>(iByte));
            if (pFile == nullptr || fclose(pFile) != 0) {
                perror(sName.c_str());
                return 1;
            }
            LLVMFuzzerTestOneInput(abyInput.data(), abyInput.size());
            ++iReplayed;
        }
    }
    printf("replay: %d inputs without a finding\n", iReplayed);
    return 0;
}
