#include "ui/tray_icon.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace quorvane {

namespace {
std::optional<bool> g_availableOverride;
}

CTrayIcon::CTrayIcon(unsigned id, QObject* parent) : QObject(parent), id_(id) {
    icon_ = new QSystemTrayIcon(this);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // The context menu itself is shown by the platform (see SetMenu).
        if (reason == QSystemTrayIcon::DoubleClick) HandleTrayMessage(id_, Mouse::LeftDoubleClick);
    });
}

CTrayIcon::~CTrayIcon() {
    if (icon_) icon_->hide();
}

bool CTrayIcon::Available() {
    return g_availableOverride ? *g_availableOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

void CTrayIcon::SetAvailableForTests(std::optional<bool> available) { g_availableOverride = available; }

void CTrayIcon::SetMenu(QMenu* menu) {
    menu_ = menu;
    if (menu && !menu->actions().isEmpty()) menu->setDefaultAction(menu->actions().first());
    icon_->setContextMenu(menu);
}

bool CTrayIcon::SetTrayIcon(const QIcon& icon, const QString& tooltip) {
    if (icon.isNull()) {
        icon_->hide();
        shown_ = false;
        return true;
    }
    icon_->setIcon(icon);
    icon_->setToolTip(tooltip.left(kTrayTooltipMax));
    icon_->show();
    shown_ = true;
    return true;
}

bool CTrayIcon::shown() const { return shown_; }

QString CTrayIcon::tooltip() const { return icon_->toolTip(); }

int CTrayIcon::HandleTrayMessage(unsigned id, Mouse mouse) {
    if (id != id_ || (mouse != Mouse::RightButtonUp && mouse != Mouse::LeftDoubleClick)) return 0;
    if (!menu_ || menu_->actions().isEmpty()) return 1;
    QAction* first = menu_->actions().first();
    if (mouse == Mouse::RightButtonUp) {
        menu_->setDefaultAction(first);
        menu_->popup(QCursor::pos());
    } else {
        first->trigger();
    }
    return 1;
}

}  // namespace quorvane
