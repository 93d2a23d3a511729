// libFuzzer target: any bytes as a raw command line, and the same bytes cut
// at NULs as an argv. Nothing may crash, and the invariants must hold.
#include "Invariants.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string problem = hakop::fuzz::checkLine(bytes);
    if (problem.empty()) {
        std::vector<std::string> args;
        std::size_t start = 0;
        for (std::size_t nul; (nul = bytes.find('\0', start)) != std::string::npos; start = nul + 1)
            args.push_back(bytes.substr(start, nul - start));
        args.push_back(bytes.substr(start));
        problem = hakop::fuzz::checkArgv(args);
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
