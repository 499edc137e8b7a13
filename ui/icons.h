#pragma once
// The program's own images, drawn in code: host status, event kinds, toolbar buttons and the
// application icon. Call with a QGuiApplication running.

#include <QIcon>

namespace quorvane {

enum class ToolbarImage { Export, Setting, StartService, StopService, StopSound, ViewLog, Help, About };

// 0 a computer with a green screen (up), 1 yellow (uncertain), 2 dark (down or unknown).
QIcon HostStatusIcon(int image);
// 0 a green tick (up), 1 a blue i in a speech bubble (information), 2 a red cross (down).
QIcon EventKindIcon(int kind);
QIcon ToolbarIcon(ToolbarImage image);
QIcon ApplicationIcon();

}  // namespace quorvane
