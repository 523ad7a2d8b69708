#pragma once

// "ombrix-zudodira --publish DESTINATION [--public-address URL] [--page NAME]
// [--key FILE] [--password-stdin]": the publish for scripts, without a window
// or a display. Progress goes to standard error, the page's address to
// standard output; it never asks a question. A password comes from the
// keyring or one line of standard input, never from an argument.
bool IsPublishCommand(int argc, char* argv[]);
int RunPublishCommand(int argc, char* argv[]);
