// The version as an ELF note (readelf -n shows it as owner "HAKOP", type 1)
// whose text `strings` also finds, so an installed binary can be matched to
// its package without running it.
#include "HakopVersion.h"

asm(".pushsection .note.hakop.version, \"a\", @note\n"
    "  .balign 4\n"
    "  .long 2f - 1f\n" // name size, terminator included
    "  .long 4f - 3f\n" // description size
    "  .long 1\n"
    "1: .asciz \"HAKOP\"\n"
    "2: .balign 4\n"
    "3: .asciz \"hakop version " HAKOP_VERSION "\"\n"
    "4: .balign 4\n"
    "  .popsection\n");
