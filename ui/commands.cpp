#include "ui/commands.h"

#include <QAction>
#include <QKeySequence>

#include <iterator>

namespace quorvane {

namespace {

const CommandText kCommands[] = {
    {ID_CLEAR_ALL_EVENT, "actionClearAllEvent", "&Clear All event \tCtrl+C", nullptr, "Ctrl+C", nullptr, nullptr},
    {ID_EXPORT, "actionExport", "Exp&ort items to file\tCtrl+O", nullptr, "Ctrl+O",
     "Export the host information to file...", "Export"},
    {ID_EXIT, "actionExit", "E&xit\tCtrl+X", "E&xit\tCtrl+X", "Ctrl+X", nullptr, nullptr},
    {ID_VIEW_TOOLBAR, "actionViewToolbar", "&Toolbar", nullptr, nullptr, "Show or hide the toolbar",
     "Toggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "actionViewStatusBar", "&Status Bar", nullptr, nullptr, "Show or hide the status bar",
     "Toggle StatusBar"},
    {ID_SETTING, "actionSetting", "&Setting...\tCtrl+S", nullptr, "Ctrl+S", "Setup", "Setup"},
    {ID_START_SERVICE, "actionStartService", "S&tart Service\tCtrl+T", "S&tart Service", "Ctrl+T",
     "Start Service", "Start Service"},
    {ID_STOP_SERVICE, "actionStopService", "Sto&p Service\tCtrl+P", "Sto&p Service", "Ctrl+P", "Stop Service",
     "Stop Service"},
    {ID_STOP_SOUND, "actionStopSound", "Stop Soun&d\tCtrl+D", nullptr, "Ctrl+D", "Stop Sound", "Stop Sound"},
    {ID_VIEW_LOG_FILE, "actionViewLogFile", "View &Log File\tCtrl+L", nullptr, "Ctrl+L", "View log file",
     "View log file"},
    {ID_HELP_DOCUMENT, "actionHelp", "&Help\tF1", nullptr, "F1", "Open help document", "Help"},
    {ID_APP_ABOUT, "actionAbout", "&About Quorvane...", "About Quorvane(&A)...", nullptr,
     "Display program information, version number and copyright", "About"},
    {ID_TRAY_OPEN, "actionOpen", "Open(&O)", "Open(&O)", nullptr, nullptr, nullptr},
    {ID_PROPERTY, "actionProperty", "&Property", nullptr, nullptr, nullptr, nullptr},
    {ID_DELETE_HOST, "actionDeleteHost", "&Delete Host\tDel", nullptr, "Del", nullptr, nullptr},
    {ID_GOTO_FIRST_EVENT, "actionGotoFirstEvent", "Goto the &First event", nullptr, nullptr, nullptr, nullptr},
    {ID_GOTO_LAST_EVENT, "actionGotoLastEvent", "Goto the &Last event", nullptr, nullptr, nullptr, nullptr},
    {ID_GOTO_ALL_EVENT, "actionGotoAllEvent", "Goto the &All event", nullptr, nullptr, nullptr, nullptr},
    {ID_GOTO_NEXT_EVENT, "actionGotoNextEvent", "Goto the &Next event", nullptr, "Ctrl+N", nullptr, nullptr},
    {ID_GOTO_PREVIOUS_EVENT, "actionGotoPreviousEvent", "Goto the Pr&evious event", nullptr, "Ctrl+E", nullptr,
     nullptr},
};

}  // namespace

const CommandText* FindCommand(int id) {
    for (const CommandText& c : kCommands) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

QAction* MakeCommandAction(int id, MenuKind kind, QObject* parent) {
    const CommandText* c = FindCommand(id);
    auto* action = new QAction(parent);
    action->setData(id);
    if (!c) return action;
    const bool tray = kind == MenuKind::Tray;
    action->setObjectName(QString::fromLatin1(c->objectName) + (tray ? QStringLiteral("Tray") : QString()));
    action->setText(QString::fromLatin1(tray && c->trayCaption ? c->trayCaption : c->caption));
    if (c->prompt) action->setStatusTip(QString::fromLatin1(c->prompt));
    if (c->tooltip) action->setToolTip(QString::fromLatin1(c->tooltip));
    if (c->key && !tray) action->setShortcut(QKeySequence(QString::fromLatin1(c->key)));
    return action;
}

}  // namespace quorvane
