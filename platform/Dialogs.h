#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Everything that asks the user something or hands something to the desktop
// goes through here, so that tests can see what would be shown and answer it.
namespace Dialogs {

enum class MessageKind { Message, Error };

struct MessageRequest {
    MessageKind Kind;
    std::string Text;  // as shown, in the locale's code page
};

// Modal box with the text, one OK button and the application title as
// caption; returns when the user has dismissed it.
void ShowMessage(const std::string& text);

// The general error box for an exception that escaped a handler.
void ShowErrorBox(const std::string& exceptionMessage);

// The error box's text: a full stop is appended when the message's last
// character sorts after '.'.
std::string ErrorBoxText(const std::string& exceptionMessage);

// How many message and error boxes have been shown so far; lets a handler
// tell whether something it called spoke to the user.
unsigned MessagesShown();

// The shell's "open" verb for a document or web address; the outcome is not
// reported.
void ShellOpen(const std::string& address);

// One open-file dialog request: caption, filters as (description, patterns)
// pairs, and the path chosen last time (the dialog starts beside it). Asking
// for a folder, the dialog starts in the given one and offers folders only.
struct OpenFileRequest {
    std::string Title;
    std::vector<std::pair<std::string, std::string>> Filters;
    std::string InitialPath;
    bool Folder = false;
};
// Gives the chosen path, or nothing when the user cancels.
std::optional<std::string> AskOpenFileName(const OpenFileRequest& request);

// A modal box with the text and a button for each answer, captioned with the
// application title; gives the index of the answer pressed, or Escape's
// answer when the box is closed another way.
struct ChoiceRequest {
    std::string Text;
    std::vector<std::string> Answers;
    int Default = 0;  // the answer Enter gives
    int Escape = 0;   // the answer Escape or the close box gives
    bool Question = false;  // the question icon
};
int AskChoice(const ChoiceRequest& request);

// Test seams. Each setter returns the handler it replaced; an empty handler
// brings the real dialog back.
using MessageHandler = std::function<void(const MessageRequest&)>;
using ShellOpenHandler = std::function<void(const std::string&)>;
using OpenFileHandler = std::function<std::optional<std::string>(const OpenFileRequest&)>;
using ChoiceHandler = std::function<int(const ChoiceRequest&)>;
MessageHandler SetMessageHandler(MessageHandler handler);
ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler);
OpenFileHandler SetOpenFileHandler(OpenFileHandler handler);
ChoiceHandler SetChoiceHandler(ChoiceHandler handler);

}  // namespace Dialogs
