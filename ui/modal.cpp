#include "ui/modal.h"

#include <QDialog>

namespace quorvane {

namespace {
std::function<int(QDialog&)> g_modalHook;
std::optional<QMessageBox::StandardButton> g_nextAnswer;
std::optional<MessageBox::Shown> g_last;
}  // namespace

int RunModal(QDialog& dialog) {
    if (g_modalHook) return g_modalHook(dialog);
    return dialog.exec();
}

void SetModalHook(std::function<int(QDialog&)> hook) { g_modalHook = std::move(hook); }

QMessageBox::StandardButton MessageBox::Show(QWidget* parent, const QString& caption, const QString& text,
                                             QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) {
    g_last = Shown{caption, text};
    if (g_nextAnswer) {
        const auto answer = *g_nextAnswer;
        g_nextAnswer.reset();
        return answer;
    }
    QMessageBox box(icon, caption, text, buttons, parent);
    const int result = RunModal(box);
    return static_cast<QMessageBox::StandardButton>(result);
}

void MessageBox::SetNextAnswer(QMessageBox::StandardButton answer) { g_nextAnswer = answer; }

std::optional<MessageBox::Shown> MessageBox::last() { return g_last; }

void MessageBox::ResetForTests() {
    g_nextAnswer.reset();
    g_last.reset();
    g_modalHook = {};
}

}  // namespace quorvane
