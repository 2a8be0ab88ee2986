#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/common/desktop.h"

namespace kv::test {

// Thrown by FakeDesktop::EndProcessNow so a test can see a fatal stop without losing the process.
struct ProcessExit {
    int code;
};

// The desktop a widget test scripts: the pointer and the screen are set by the test; boxes and
// opened addresses are recorded instead of shown.
class FakeDesktop : public Desktop {
  public:
    struct Message {
        std::string text;
        bool critical;
    };

    QPoint pointer;
    QRect screen{0, 0, 1920, 1080};
    std::vector<Message> messages;
    // Runs while a box is open, where a real box would run its own event loop.
    std::function<void(const Message&)> whileBoxIsOpen;
    std::vector<std::string> opened;

    void ShowMessage(const std::string& text, bool critical) override {
        messages.push_back({text, critical});
        if (whileBoxIsOpen) {
            const Message shown = messages.back();  // the hook may open another box
            whileBoxIsOpen(shown);
        }
    }
    [[noreturn]] void EndProcessNow(int code) override { throw ProcessExit{code}; }
    void OpenAddress(const std::string& url) override { opened.push_back(url); }
    QPoint PointerPosition() const override { return pointer; }
    QRect PrimaryScreen() const override { return screen; }
};

}  // namespace kv::test
