#pragma once
// Every modal dialog and message box of the program runs through here, so that tests can answer
// them without a blocking event loop (the seams are for tests only).

#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace quorvane {

// Runs the dialog modally and returns its result; with a hook set, the hook gets the dialog
// (shown or not, as it likes) and its result is returned instead.
int RunModal(QDialog& dialog);
void SetModalHook(std::function<int(QDialog&)> hook);

class MessageBox {
public:
    static QMessageBox::StandardButton Show(QWidget* parent, const QString& caption, const QString& text,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                            QMessageBox::Icon icon = QMessageBox::NoIcon);
    // The next Show returns this answer at once, showing nothing.
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    struct Shown {
        QString caption;
        QString text;
    };
    // What the last Show was asked to display.
    static std::optional<Shown> last();
    static void ResetForTests();
};

}  // namespace quorvane
