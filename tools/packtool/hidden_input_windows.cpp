#include "hidden_input.h"

#include <windows.h>

struct HiddenInput::Saved {
    HANDLE console;
    DWORD mode;
};

HiddenInput::HiddenInput()
{
    const HANDLE console = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    // Only a console has a mode; a pipe or file fails here.
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return;
    saved_ = std::make_unique<Saved>(Saved{console, mode});
    SetConsoleMode(console, mode & ~DWORD(ENABLE_ECHO_INPUT));
}

HiddenInput::~HiddenInput()
{
    if (saved_)
        SetConsoleMode(saved_->console, saved_->mode);
}
