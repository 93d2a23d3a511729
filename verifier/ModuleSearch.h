#pragma once
// Where the loader would find a module given by file name, looked up by the
// helper itself before anything is loaded: dlopen reports a file it cannot
// read like one that is not there, and searches on past it, so only a search
// of our own tells "no module installed" (the saver may close) from "a module
// is there but cannot be used" (it must not).
//
// The places, in the loader's order: the absolute LD_LIBRARY_PATH entries,
// the loader's cache (ldconfig's index by SONAME), the default folders. The
// module found is opened there, judged (see TrustedFile.h) and then loaded
// from that open file, so what was checked is what runs.
#include "TrustedFile.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace hakop::verifier {

struct SearchPlaces {
    std::vector<std::string> folders;  // LD_LIBRARY_PATH's absolute entries
    std::string cache;                 // the loader's cache file; empty: none
    std::vector<std::string> defaults; // the loader's default folders
};

// The places for this process: its LD_LIBRARY_PATH, /etc/ld.so.cache and the
// folders the loader searches last.
SearchPlaces loaderPlaces();

struct ModuleLookup {
    enum class Outcome { NotFound, Found, Unusable, Untrusted };
    Outcome outcome = Outcome::NotFound;
    std::string path;    // where it was found, as the places spell it: its name in messages
    std::string why;     // Unusable, Untrusted: what is wrong, as one clause
    FileDescriptor file; // Found: the module, open for reading

    // Found: loads the module from 'file' (dlopen's flags); null on failure,
    // with the loader's reason in 'error', naming the module by 'path'.
    void* load(int flags, std::string& error) const;
};

// Looks for 'name' along 'places' as the loader would, stopping at the first
// place that has it (or that cannot be looked into), and opens it there if
// the rule in TrustedFile.h lets 'user' trust it. A name with a '/' is a
// path, taken as it is.
ModuleLookup findModule(const std::string& name, const SearchPlaces& places, uid_t user);

// The file the loader's cache lists for 'name' on this machine's architecture,
// or empty when it lists none (or the cache cannot be read).
std::string cacheEntry(const std::string& cacheFile, const std::string& name);

} // namespace hakop::verifier
