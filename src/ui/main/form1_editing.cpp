#include <QLabel>
#include <QLineEdit>

#include "common/number_format.h"
#include "ui/main/form1.h"
#include "ui/main/input_filter.h"

namespace kv {

void Form1::Label6_Click() {
    OpenEditor(Label6, Text1, Text2);
}

void Form1::Label7_Click() {
    OpenEditor(Label7, Text2, Text1);
}

void Form1::Text1_Change() {
    FilterEditor(Text1);
}

void Form1::Text2_Change() {
    FilterEditor(Text2);
}

void Form1::Text1_KeyDown(int keyCode) {
    if (keyCode == kEnterKey) {
        CommitEditor(Label6, Text1, &ProgramState::tariffPerMb);
    }
}

void Form1::Text2_KeyDown(int keyCode) {
    if (keyCode == kEnterKey) {
        CommitEditor(Label7, Text2, &ProgramState::moneyLimit);
    }
}

void Form1::CommitPendingEdit() {
    if (!Text1->isHidden()) {
        CommitEditor(Label6, Text1, &ProgramState::tariffPerMb);
    } else if (!Text2->isHidden()) {
        CommitEditor(Label7, Text2, &ProgramState::moneyLimit);
    }
}

Form1::EditorState& Form1::EditorOf(QLineEdit* box) {
    return box == Text1 ? tariffEditor_ : limitEditor_;
}

void Form1::OpenEditor(QLabel* label, QLineEdit* box, QLineEdit* other) {
    if (!other->isHidden()) {
        CommitPendingEdit();
    }
    // Reopening an open box must not make the user's typing count as unchanged.
    if (box->isHidden()) {
        EditorOf(box).baseline = box->text();
    }
    label->hide();
    box->show();
    box->selectAll();
    box->setFocus();
}

void Form1::FilterEditor(QLineEdit* box) {
    if (writingEditor_) {
        return;
    }
    EditorState& editor = EditorOf(box);
    const QString now = box->text();
    std::optional<BoxText> fixed;
    // setText clears the modified flag, so it is set only by the user's own edits.
    if (box->isModified()) {
        fixed = AcceptUserEdit(editor.shown.toStdU16String(), now.toStdU16String());
    } else {
        fixed = FilterNumberInput(now.toStdU16String());
    }
    if (fixed) {
        WriteEditor(box, QString::fromStdU16String(fixed->text), int(fixed->caret));
    }
    editor.shown = box->text();
    if (!box->isModified()) {
        // The program has put a value there; committing that text again changes nothing.
        editor.baseline = editor.shown;
    }
}

void Form1::WriteEditor(QLineEdit* box, const QString& text, int caret) {
    const bool modified = box->isModified();
    writingEditor_ = true;
    box->setText(text);
    writingEditor_ = false;
    box->setModified(modified);
    box->setCursorPosition(caret);
}

void Form1::CommitEditor(QLabel* label, QLineEdit* box, float ProgramState::*value) {
    EditorState& editor = EditorOf(box);
    // The box may hold text older than the value; committing it again could give back money
    // already spent.
    if (box->text() == editor.baseline) {
        // The program may have changed the value while the box was open.
        box->setText(label->text());
        label->show();
        box->hide();
        return;
    }
    const std::optional<float> parsed = ParseSingle(box->text().toStdString());
    if (!parsed || !ledger_.Commit(value, *parsed)) {
        // The previous value stays: replacing it would silently lose the balance or the tariff.
        WriteEditor(box, QString(), 0);
        editor.shown.clear();
        return;
    }
    label->setText(box->text());
    label->show();
    box->hide();
    // Every figure the value changes, watched interface or not.
    ShowTrafficLimit();
    ShowMoneyFigures();
}

}  // namespace kv
