#pragma once
// The commands of the menus, the toolbar, the accelerators and the pop-up menus, with their
// numbers, captions, keys, status prompts and tooltips.

#include <QString>

class QAction;
class QObject;

namespace quorvane {

enum CommandId : int {
    ID_GOTO_NEXT_EVENT = 32771,
    ID_GOTO_PREVIOUS_EVENT = 32772,
    ID_GOTO_ALL_EVENT = 32773,
    ID_TRAY_OPEN = 32775,
    ID_SETTING = 32776,
    ID_STOP_SERVICE = 32777,
    ID_DELETE_HOST = 32779,
    ID_STOP_SOUND = 32780,
    ID_EXIT = 32781,
    ID_HELP_DOCUMENT = 32782,
    ID_VIEW_LOG_FILE = 32783,
    ID_PROPERTY = 32784,
    ID_GOTO_FIRST_EVENT = 32788,
    ID_CLEAR_ALL_EVENT = 32789,
    ID_GOTO_LAST_EVENT = 32790,
    ID_START_SERVICE = 32791,
    ID_EXPORT = 32792,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_APP_ABOUT = 57664,
};

// Where a caption comes from: the main menu and the other pop-ups, or the tray menu.
enum class MenuKind { Main, Tray };

struct CommandText {
    int id;
    const char* objectName;  // how tests and the toolbar find the action
    const char* caption;     // as stored: '&' marks the mnemonic, "\t" precedes the key text
    const char* trayCaption;  // the tray menu's caption, or nullptr
    const char* key;          // the accelerator, or nullptr
    const char* prompt;       // status bar prompt, or nullptr
    const char* tooltip;      // toolbar tooltip, or nullptr
};

// The entry of a command; nullptr for an unknown number.
const CommandText* FindCommand(int id);

// A new action for the command: caption, prompt and tooltip; the shortcut only for the main
// kind (one action per key, or Qt finds the key ambiguous and fires none). data() holds the id.
QAction* MakeCommandAction(int id, MenuKind kind, QObject* parent);

}  // namespace quorvane
