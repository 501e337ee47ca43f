// Finding the external editors. On this desktop an application is an executable somewhere on
// the PATH or in its vendor's folder, or a desktop entry that names one.

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include <unistd.h>

#include "VDUtils.h"
#include "platform/UserPaths.h"

namespace vd {

namespace fs = std::filesystem;

namespace {

bool isExecutableFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<fs::path> splitPaths(const char* list)
{
    std::vector<fs::path> paths;
    std::string_view rest = list ? list : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        if (const auto item = rest.substr(0, colon); !item.empty())
            paths.emplace_back(item);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return paths;
}

std::optional<fs::path> onPath(const std::string& name)
{
    for (const auto& dir : splitPaths(std::getenv("PATH"))) {
        if (isExecutableFile(dir / name))
            return dir / name;
    }
    return std::nullopt;
}

// The folders holding desktop entries, the user's own first.
std::vector<fs::path> applicationFolders()
{
    std::vector<fs::path> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    folders.push_back((dataHome && *dataHome ? fs::path(dataHome) : paths::home() / ".local/share") / "applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    for (const auto& dir : splitPaths(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share"))
        folders.push_back(dir / "applications");
    return folders;
}

// The value of the first "Key=" line of a desktop entry; empty when it has none.
std::string entryValue(const fs::path& entry, std::string_view key)
{
    std::ifstream in(entry);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
            return line.substr(key.size() + 1);
    }
    return {};
}

// The program a desktop entry starts: the first word of its Exec line, looked up on the PATH
// unless it is a full path.
std::optional<fs::path> desktopEntryProgram(const std::string& entryName)
{
    for (const auto& folder : applicationFolders()) {
        const fs::path entry = folder / entryName;
        std::error_code error;
        if (!fs::is_regular_file(entry, error))
            continue;
        const std::string exec = entryValue(entry, "Exec");
        const std::string program = exec.substr(0, exec.find(' '));
        if (program.empty())
            continue;
        if (fs::path(program).is_absolute())
            return isExecutableFile(program) ? std::optional<fs::path>(program) : std::nullopt;
        return onPath(program);
    }
    return std::nullopt;
}

std::optional<fs::path> findEditor(const std::string& name, std::initializer_list<const char*> places, const std::string& entryName)
{
    if (auto found = onPath(name))
        return found;
    for (const char* place : places) {
        if (isExecutableFile(place))
            return fs::path(place);
    }
    return desktopEntryProgram(entryName);
}

} // namespace

std::optional<fs::path> VDUtils::sublPath()
{
    return findEditor("subl", {"/usr/local/bin/subl", "/opt/sublime_text/sublime_text", "/snap/bin/subl"}, "sublime_text.desktop");
}

std::optional<fs::path> VDUtils::vsCodePath()
{
    return findEditor("code", {"/usr/share/code/bin/code", "/snap/bin/code"}, "code.desktop");
}

bool VDUtils::vsCodeURLHandlerExists()
{
    for (const auto& folder : applicationFolders()) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (it->path().extension() != ".desktop")
                continue;
            const std::string types = ";" + entryValue(it->path(), "MimeType") + ";";
            if (types.find(";x-scheme-handler/vscode;") != std::string::npos)
                return true;
        }
    }
    return false;
}

} // namespace vd
