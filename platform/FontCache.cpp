#include "FontCache.h"

#include <fontconfig/fontconfig.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace hakop::platform {

namespace {

// Where the private folder goes: the user's own runtime folder, else (none,
// or another user's) /tmp; mkdtemp makes it with a name nobody can foresee,
// open to us alone.
std::string makePrivateFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (const char* parent : {runtime, "/tmp"}) {
        if (parent == nullptr || parent[0] != '/')
            continue;
        std::string folder = std::string(parent) + "/hakop-fonts-XXXXXX";
        if (::mkdtemp(folder.data()) != nullptr)
            return folder;
    }
    return {};
}

// Whether fontconfig may find no cache folder to write: false only when it
// reads the usual configuration (no FONTCONFIG_FILE or FONTCONFIG_PATH) and
// the user's own cache folder, $XDG_CACHE_HOME/fontconfig (else
// ~/.cache/fontconfig), can be written or made. Loading the configuration to
// know for sure costs about 5 ms of every start; this costs a few calls.
bool mayLackWritableCache()
{
    if (std::getenv("FONTCONFIG_FILE") != nullptr || std::getenv("FONTCONFIG_PATH") != nullptr)
        return true;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (cache != nullptr && cache[0] == '/')
        folder = std::filesystem::path(cache) / "fontconfig";
    else if (home != nullptr && home[0] == '/')
        folder = std::filesystem::path(home) / ".cache" / "fontconfig";
    else
        return true;
    // Fontconfig makes the folders it lacks: the nearest one there must be writable.
    std::error_code error;
    while (!std::filesystem::exists(folder, error)) {
        if (error || !folder.has_relative_path())
            return true;
        folder = folder.parent_path();
    }
    return ::access(folder.c_str(), W_OK | X_OK) != 0;
}

std::string xmlText(const std::string& text)
{
    std::string escaped;
    for (const char ch : text) {
        switch (ch) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        default: escaped += ch; break;
        }
    }
    return escaped;
}

} // namespace

void prepareFontCache()
{
    if (!mayLackWritableCache())
        return; // the toolkit's fontconfig writes where it always does
    FcConfig* config = FcInitLoadConfig();
    if (config == nullptr)
        return; // the toolkit tries again, and fontconfig says why
    const std::string folder = makePrivateFolder();
    if (!folder.empty()) {
        const std::string extra = "<fontconfig><cachedir>" + xmlText(folder) + "</cachedir></fontconfig>";
        FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(extra.c_str()), FcFalse);
    }
    // Builds the font list now, while the folder is there. The current
    // configuration holds a reference of its own (fontconfig 2.13 on), so
    // ours goes whether or not it became current.
    FcConfigSetCurrent(config);
    FcConfigDestroy(config);
    if (!folder.empty()) {
        // What was written is read already; the caches made would be made
        // again next time, as they would have been without the folder.
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

} // namespace hakop::platform
