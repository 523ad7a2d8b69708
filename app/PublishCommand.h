#pragma once

// "ombrix-zudodira --publish DESTINATION [--public-address URL] [--page NAME]
// [--key FILE]": the publish for scripts, without a window or a display.
// Progress goes to standard error, the page's address to standard output;
// it never asks a question.
bool IsPublishCommand(int argc, char* argv[]);
int RunPublishCommand(int argc, char* argv[]);
