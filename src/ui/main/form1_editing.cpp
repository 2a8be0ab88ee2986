#include <QLabel>
#include <QLineEdit>

#include "ui/main/form1.h"

namespace kv {

void Form1::Label6_Click() {}
void Form1::Label7_Click() {}
void Form1::Text1_Change() {}
void Form1::Text2_Change() {}
void Form1::Text1_KeyDown(int) {}
void Form1::Text2_KeyDown(int) {}
void Form1::CommitPendingEdit() {}

}  // namespace kv
