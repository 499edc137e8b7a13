#include "ui/lock_indicators.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QStatusBar>

namespace quorvane {

namespace {

// X11 core protocol modifier bits as the xcb platform passes them on.
constexpr quint32 kX11LockMask = 0x02;
constexpr quint32 kX11Mod2Mask = 0x10;  // Num Lock on practically every keymap

QLabel* MakePane(QStatusBar* bar, const QString& text, const char* name) {
    auto* label = new QLabel(bar);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(text) + 10);
    label->setProperty("indicatorText", text);
    bar->addPermanentWidget(label);
    return label;
}

}  // namespace

LockIndicators::LockIndicators(QStatusBar* bar) : QObject(bar) {
    caps_ = MakePane(bar, QStringLiteral("CAP"), "capsIndicator");
    num_ = MakePane(bar, QStringLiteral("NUM"), "numIndicator");
    scroll_ = MakePane(bar, QStringLiteral("SCRL"), "scrollIndicator");
    x11_ = QGuiApplication::platformName() == QStringLiteral("xcb");
    if (x11_ && QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

void LockIndicators::SetStates(std::optional<bool> caps, std::optional<bool> num, std::optional<bool> scroll) {
    auto show = [](QLabel* label, std::optional<bool> on) {
        label->setText(on.value_or(false) ? label->property("indicatorText").toString() : QString());
    };
    show(caps_, caps);
    show(num_, num);
    show(scroll_, scroll);
}

bool LockIndicators::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const quint32 state = static_cast<QKeyEvent*>(event)->nativeModifiers();
        SetStates((state & kX11LockMask) != 0, (state & kX11Mod2Mask) != 0, std::nullopt);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quorvane
