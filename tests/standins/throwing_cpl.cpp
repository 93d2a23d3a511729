// A password verifier that throws a C++ exception out of its entry point.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

extern "C" int VerifyScreenSavePwd(unsigned long window)
{
    if (const char* path = std::getenv("HAKOP_STANDIN_LOG")) {
        if (FILE* f = std::fopen(path, "a")) {
            std::fprintf(f, "verify %lu\n", window);
            std::fclose(f);
        }
    }
    throw std::runtime_error("stand-in verifier failure");
}
