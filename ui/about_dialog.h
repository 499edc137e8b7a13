#pragma once
// The about box: the application icon, the version line and OK.

#include <QDialog>

namespace quorvane {

class CAboutDlg final : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace quorvane
