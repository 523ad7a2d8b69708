#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The open-file dialog as a window keeps it: its caption and filters come
// from the window design, and the chosen path stays in FileName after the
// dialog has closed.
class TOpenDialog {
public:
    std::string Title;
    std::vector<std::pair<std::string, std::string>> Filter;  // (description, "*.a; *.b;")
    std::string FileName;

    // Asks the user; false when the user cancels (FileName is then unchanged).
    bool Execute();

    // A path the user has chosen another way (dropped on a window, named on
    // the command line): the next Execute takes it as the answer, unasked.
    void ChooseInAdvance(const std::string& path) { chosenInAdvance = path; }

private:
    std::optional<std::string> chosenInAdvance;
};
