#pragma once

#include <memory>

// While it lives, what is typed on the standard input's terminal is not echoed; nothing changes
// when the input is no terminal (hidden_input_*.cpp, one file per system).
class HiddenInput {
public:
    HiddenInput();
    ~HiddenInput();
    HiddenInput(const HiddenInput &) = delete;
    HiddenInput &operator=(const HiddenInput &) = delete;

    bool OnTerminal() const { return saved_ != nullptr; }

private:
    struct Saved; // the terminal's state before, restored at the end
    std::unique_ptr<Saved> saved_;
};
