#include "ui/about/form2.h"

namespace kv {

Form2::Form2(Platform& platform, QWidget* parent) : QWidget(parent), platform_(platform) {
    setWindowTitle(QStringLiteral("О программе"));
}

}  // namespace kv
