#pragma once

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
class TTextFile {
public:
    explicit TTextFile(const std::string& path);  // creates or truncates
    ~TTextFile();                                 // closes quietly if Close was not reached
    TTextFile(const TTextFile&) = delete;
    TTextFile& operator=(const TTextFile&) = delete;

    void Write(const std::string& text);
    void WriteLine(const std::string& text);  // text, then CR LF
    void Close();

private:
    void writeAll(const char* data, std::size_t size);

    std::string path;
    int descriptor = -1;
};

}  // namespace Files
