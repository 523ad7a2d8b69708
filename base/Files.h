#pragma once

#include "base/Descriptors.h"

#include <cstdint>
#include <string>

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

}  // namespace Files
