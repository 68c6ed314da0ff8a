#include "hidden_input.h"

#include <termios.h>
#include <unistd.h>

struct HiddenInput::Saved {
    termios state;
};

HiddenInput::HiddenInput()
{
    termios state{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &state) != 0)
        return;
    saved_ = std::make_unique<Saved>(Saved{state});
    state.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &state);
}

HiddenInput::~HiddenInput()
{
    if (saved_)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_->state);
}
