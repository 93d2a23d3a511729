#pragma once
// Where the loader would find a module given by file name, looked up by the
// helper itself before anything is loaded: dlopen reports a file it cannot
// read like one that is not there, and searches on past it, so only a search
// of our own tells "no module installed" (the saver may close) from "a module
// is there but cannot be used" (it must not).
//
// The places, in the loader's order: the absolute LD_LIBRARY_PATH entries,
// the loader's cache (ldconfig's index by SONAME), the default folders. The
// module found is then loaded by its full path, so what was checked is what
// runs.
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
    enum class Outcome { NotFound, Found, Unusable };
    Outcome outcome = Outcome::NotFound;
    std::string path; // Found: the file to load, all links resolved
    std::string why;  // Unusable: what is wrong, as one clause
};

// Looks for 'name' along 'places' as the loader would, stopping at the first
// place that has it (or that cannot be looked into). A module found must
// also be safe: see unsafeBecause.
ModuleLookup findModule(const std::string& name, const SearchPlaces& places);

// Why the file at 'path' may not be trusted, or empty: it, or a folder on the
// way to it, belongs to someone other than root and 'user', or may be written
// by its group or by others (the rule ssh applies to its own files; a sticky
// folder such as /tmp is no exception).
std::string unsafeBecause(const std::string& path, uid_t user);

// The file the loader's cache lists for 'name' on this machine's architecture,
// or empty when it lists none (or the cache cannot be read).
std::string cacheEntry(const std::string& cacheFile, const std::string& name);

} // namespace hakop::verifier
