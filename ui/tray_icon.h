#pragma once
// The notification-area icon with its small menu. The menu's first item (Open) is its default:
// shown in bold, and what a double click on the icon does.

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace quorvane {

inline constexpr unsigned kTrayIconId = 130;
inline constexpr int kTrayTooltipMax = 127;

class CTrayIcon final : public QObject {
public:
    // What the icon reports of the mouse.
    enum class Mouse { RightButtonUp, LeftDoubleClick, LeftButtonUp, Other };

    explicit CTrayIcon(unsigned id, QObject* parent = nullptr);
    ~CTrayIcon() override;  // removes the icon

    void SetNotifyTarget(QWidget* owner) { owner_ = owner; }
    // The tray menu; its first item becomes the default.
    void SetMenu(QMenu* menu);
    // Shows the icon with the tooltip (at most 127 characters); a null icon removes it.
    bool SetTrayIcon(const QIcon& icon, const QString& tooltip);
    // Returns 1 when it acted: a right-button release shows the menu at the cursor, a left
    // double click runs the menu's first item. 0 for another icon or another mouse event.
    int HandleTrayMessage(unsigned id, Mouse mouse);

    bool shown() const;
    QString tooltip() const;
    unsigned id() const { return id_; }

    // Whether the desktop offers a notification area; tests may decide it.
    static bool Available();
    static void SetAvailableForTests(std::optional<bool> available);

private:
    const unsigned id_;
    QPointer<QWidget> owner_;
    QPointer<QMenu> menu_;
    QSystemTrayIcon* icon_ = nullptr;
    bool shown_ = false;
};

}  // namespace quorvane
