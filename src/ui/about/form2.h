#pragma once

#include <QWidget>

#include "platform/platform.h"

namespace kv {

// The About window.
class Form2 : public QWidget {
    Q_OBJECT

public:
    explicit Form2(Platform& platform, QWidget* parent = nullptr);

private:
    Platform& platform_;
};

}  // namespace kv
