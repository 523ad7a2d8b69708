#pragma once

#include "base/Descriptors.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace Files {

// Opens an existing file for reading and writing (others may keep reading and
// writing it), takes its size in bytes and closes it. Any failure raises
// EInOutError; a file that may not be written fails the open.
std::int64_t SizeOfWritableFile(const std::string& path);

// Removes a file; a failure is ignored.
void DeleteFileQuietly(const std::string& path);

// A text file created anew for writing: every line ends in CR LF. Each step
// is checked and raises EInOutError naming the file.
//
// The text goes to a new file beside the old one, which takes the old one's
// place only once everything is written: a full disk or any other failure
// leaves the earlier file as it was. A file that may not be written, or a
// folder of that name, is refused at once, as opening it would be.
class TTextFile {
public:
    explicit TTextFile(const std::string& path);
    ~TTextFile();  // without Close, the earlier file stays as it was
    TTextFile(const TTextFile&) = delete;
    TTextFile& operator=(const TTextFile&) = delete;

    void Write(const std::string& text);
    void WriteLine(const std::string& text);  // text, then CR LF
    void Close();  // the new text takes the file's place

private:
    void writeAll(const char* data, std::size_t size);
    void discard();

    std::string path;
    std::string newPath;
    Platform::UniqueFd descriptor;
};

// A folder that only this user may enter: $XDG_RUNTIME_DIR when it is a
// folder of ours closed to everyone else (as the desktop makes it, in
// memory); otherwise "ombrix-zudodira" under $XDG_CACHE_HOME or ~/.cache,
// made, or made again, mode 0700. Raises EInOutError when there is none.
std::string PrivateFolder();

// A file only this user may read, for handing something to another program
// by name when the thing itself must not show on that program's command line
// (every local user reads those). Mode 0600, in PrivateFolder(), under a
// fresh random name that is created, never opened: a link planted there
// cannot stand in for it. Removed when this goes. Raises EInOutError when it
// cannot be made whole.
class TPrivateFile {
public:
    // The name is prefix, random letters, suffix.
    TPrivateFile(std::string_view prefix, std::string_view suffix, std::string_view content);
    ~TPrivateFile();
    TPrivateFile(const TPrivateFile&) = delete;
    TPrivateFile& operator=(const TPrivateFile&) = delete;

    const std::string& Path() const { return path; }

private:
    std::string path;
};

}  // namespace Files
